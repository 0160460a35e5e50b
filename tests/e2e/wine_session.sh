#!/usr/bin/env bash
# The sessions the Windows tests run in: a private X display (Xvfb) and a private Wine
# prefix with one persistent wineserver, shared by every test of a CTest run.
#
#   wine_session.sh start DIR TEMPLATE [DPI [ordinary]]
#                               starts the display and the wineserver, in a prefix copied
#                               from the TEMPLATE prefix (made the first time, then reused),
#                               with the screen set to DPI dots per inch (96, Wine's own,
#                               unless given). "ordinary" runs Wine as an account that may
#                               not create files in C:\, as any Windows program that is not
#                               run as administrator: C:\ refuses new files while the
#                               records file in it may be changed.
#   wine_session.sh stop DIR    stops both
#   wine_session.sh run DIR PROGRAM ARGS...
#                               runs a Windows program inside a started session. In an
#                               ordinary session C:\perlwickrecords.txt is there (empty
#                               unless it holds something) and may be changed, or is
#                               removed first when PERLWICK_RECORDS_FILE=absent. With
#                               PERLWICK_RECORDS_FILE=linked it is a symbolic link to an
#                               empty C:\synced\records.txt while the program runs.
#
# DIR holds the prefix (DIR/prefix), the display number (DIR/display), Xvfb's process id
# (DIR/xvfb.pid) and the logs. Every wait is bounded.
set -euo pipefail

usage="usage: wine_session.sh start|stop|run DIR [TEMPLATE [DPI [ordinary]] | PROGRAM ARGS...]"
command=${1:?$usage}
dir=${2:?$usage}
shift 2

export WINEPREFIX="$dir/prefix"
export WINEDEBUG=-all
# No prompts to install Mono or Gecko while a prefix is made.
export WINEDLLOVERRIDES="mscoree=;mshtml="

drive_c="$WINEPREFIX/drive_c"
records="$drive_c/perlwickrecords.txt"

# In an ordinary session, Wine runs without root's right to pass over file permissions
# (root's Wine ignores them, as Windows' administrators do not), so that C:\ (mode 555)
# refuses new files. Any other account is refused by the mode alone.
as_account=()
as_ordinary_account() {
  [ "$(id -u)" -ne 0 ] || as_account=(setpriv '--bounding-set=-dac_override,-dac_read_search' --)
}
[ ! -f "$dir/ordinary-account" ] || as_ordinary_account

session_display() {
  local number
  number=$(cat "$dir/display" 2>/dev/null || true)
  if [ -z "$number" ]; then
    echo "wine_session: no session is running in $dir (the wine_session_start test starts it)" >&2
    exit 1
  fi
  echo ":$number"
}

# Runs a command with a time limit, its output going to the session's log.
bounded() {
  local seconds=$1
  shift
  if ! timeout --kill-after=5 "$seconds" "$@" </dev/null >>"$dir/wine.log" 2>&1; then
    echo "wine_session: '$*' failed or took longer than $seconds s; see $dir/wine.log" >&2
    tail -n 20 "$dir/wine.log" >&2 || true
    return 1
  fi
}

stop_xvfb() {
  local pid
  pid=$(cat "$dir/xvfb.pid" 2>/dev/null || true)
  rm -f "$dir/xvfb.pid" "$dir/display"
  [ -n "$pid" ] || return 0
  # Only the Xvfb this script started, never a process that took its id since.
  if [ "$(ps -o comm= -p "$pid" 2>/dev/null)" = Xvfb ]; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || return 0
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
}

stop_session() {
  if [ -d "$WINEPREFIX" ]; then
    timeout 20 wineserver -k >/dev/null 2>&1 || true
    timeout 20 wineserver -w >/dev/null 2>&1 || true
  fi
  # C:\ takes new files again, for whatever comes next.
  [ ! -d "$drive_c" ] || chmod 755 "$drive_c"
  rm -f "$dir/ordinary-account"
  stop_xvfb
}

start_xvfb() {
  : >"$dir/display"
  # Xvfb picks a free display number and writes it to descriptor 3 once it accepts
  # connections. 1024 x 768 is the screen the window's placement is checked on.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    </dev/null >"$dir/xvfb.log" 2>&1 3>"$dir/display" &
  echo $! >"$dir/xvfb.pid"
  for _ in $(seq 100); do
    if grep -q '[0-9]' "$dir/display" 2>/dev/null; then
      tr -dc '0-9' <"$dir/display" >"$dir/display.tmp" && mv "$dir/display.tmp" "$dir/display"
      return 0
    fi
    sleep 0.1
  done
  echo "wine_session: Xvfb did not start within 10 s:" >&2
  cat "$dir/xvfb.log" >&2 || true
  stop_xvfb
  return 1
}

# Makes the template prefix once; sessions copy it, which takes seconds instead of the
# 20 s a new prefix takes. Sessions starting side by side make it once between them.
make_template() {
  local template=$1
  mkdir -p "$(dirname "$template")"
  exec 9>"$template.lock"
  flock 9
  if [ ! -f "$template/.perlwick-ready" ]; then
    rm -rf "$template"
    echo "Creating the Wine prefix $template (about 20 s, once) ..."
    WINEPREFIX=$template bounded 180 wineboot --init
    WINEPREFIX=$template bounded 60 wineserver -w
    # Wine's own copies of the standard fonts, "MS Sans Serif" among them.
    mkdir -p "$template/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/* "$template/drive_c/windows/Fonts/"
    # There is no window manager on Xvfb: Wine draws the frames itself.
    WINEPREFIX=$template bounded 60 wine reg add 'HKCU\Software\Wine\X11 Driver' \
      /v Managed /d N /f
    WINEPREFIX=$template bounded 60 wineserver -w
    touch "$template/.perlwick-ready"
  fi
  exec 9>&-
}

make_prefix() {
  local template=$1
  make_template "$template"
  rm -rf "$WINEPREFIX"
  cp -a "$template" "$WINEPREFIX"
}

# Sets the screen's scale, which Wine reads from the user's LogPixels as each program
# starts. The prefix remembers the value it holds, so that this runs only when it changes.
set_dpi() {
  local dpi=$1
  [ "$(cat "$WINEPREFIX/.perlwick-dpi" 2>/dev/null || echo 96)" != "$dpi" ] || return 0
  bounded 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
  bounded 60 wineserver -w
  echo "$dpi" >"$WINEPREFIX/.perlwick-dpi"
}

# An ordinary session's records file: there and changeable, or absent. C:\ takes new
# files only for as long as this takes.
prepare_records_file() {
  chmod 755 "$drive_c"
  if [ "${PERLWICK_RECORDS_FILE:-present}" = absent ]; then
    rm -f "$records"
  else
    [ -f "$records" ] || : >"$records"
    chmod 666 "$records"
  fi
  chmod 555 "$drive_c"
}

# PERLWICK_RECORDS_FILE=linked: the records file is a Unix symbolic link into another
# folder, as into one a sync service keeps. Windows programs cannot make one under Wine
# (CreateSymbolicLinkW succeeds and makes nothing). The link and its folder go once the
# program has ended, and when the session starts, should a run have been ended first.
# Other runs leave them alone: they may run beside the one that uses them.
synced="$drive_c/synced"
link_records_file() {
  mkdir "$synced"
  : >"$synced/records.txt"
  rm -f "$records"
  ln -s synced/records.txt "$records"
}
unlink_records_file() {
  [ ! -L "$records" ] || rm -f "$records"
  rm -rf "$synced"
}

case $command in
  start)
    template=${1:?$usage}
    dpi=${2:-96}
    mode=${3:-administrator}
    mkdir -p "$dir"
    : >"$dir/wine.log"
    stop_session # whatever an interrupted run left behind
    start_xvfb
    DISPLAY=$(session_display)
    export DISPLAY
    [ -f "$WINEPREFIX/.perlwick-ready" ] || make_prefix "$template"
    unlink_records_file
    set_dpi "$dpi"
    if [ "$mode" = ordinary ]; then
      touch "$dir/ordinary-account"
      prepare_records_file
      as_ordinary_account
    fi
    # One wineserver for all the tests, started before them and warmed up, so that no
    # test waits for Wine's background services to start or to let go of its output.
    bounded 30 "${as_account[@]}" wineserver -p
    bounded 60 "${as_account[@]}" wine cmd /c exit
    echo "Wine session ready: DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX, $dpi DPI, $mode account"
    ;;
  stop)
    stop_session
    ;;
  run)
    DISPLAY=$(session_display)
    export DISPLAY
    linked=false
    [ "${PERLWICK_RECORDS_FILE:-}" != linked ] || linked=true
    [ ! -f "$dir/ordinary-account" ] || prepare_records_file
    if $linked; then
      unlink_records_file
      link_records_file
    fi
    # Wine's own errors are shown (there are none while all goes well), so that a program
    # Wine could not start says why; and a program that ended without a word, as one that
    # was ended from outside, is told apart by its exit code.
    export WINEDEBUG=-all,err+all
    # Now and then Wine cannot start a program at all: the system has put something at the
    # fixed address where Wine maps the data it shares with every process, and the process
    # ends before any of its code has run ("failed to map the shared user data"). Only that
    # start is tried again, at most twice, and said; every other failure stands.
    errors=$(mktemp "$dir/run-errors.XXXXXX")
    exec 3>&1
    for attempt in 1 2 3; do
      # The program's output as it comes; its errors also into a file.
      set +e
      "${as_account[@]}" wine "$@" 2>&1 1>&3 3>&- | tee "$errors" >&2
      status=${PIPESTATUS[0]}
      set -e
      if [ "$status" -eq 0 ] || [ "$attempt" -eq 3 ] ||
        ! grep -q "failed to map the shared user data" "$errors"; then
        break
      fi
      message="wine_session: Wine could not start $1 or a program it started (attempt $attempt)"
      echo "$message; starting it again" | tee -a "$dir/wine.log" >&2
    done
    rm -f "$errors"
    ! $linked || unlink_records_file
    [ "$status" -eq 0 ] || echo "wine_session: $1 ended with exit code $status" >&2
    exit "$status"
    ;;
  *)
    echo "wine_session: unknown command $command" >&2
    exit 2
    ;;
esac
