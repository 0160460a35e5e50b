#!/usr/bin/env bash
# The session the Windows tests run in: a private X display (Xvfb) and a private Wine
# prefix with one persistent wineserver, shared by every test of a CTest run.
#
#   wine_session.sh start DIR [DPI]
#                               starts the display and the wineserver (creates the prefix
#                               the first time; later runs reuse it), with the screen set
#                               to DPI dots per inch (96, Wine's own, unless given)
#   wine_session.sh stop DIR    stops both
#   wine_session.sh run DIR PROGRAM ARGS...
#                               runs a Windows program inside a started session
#
# DIR holds the prefix (DIR/prefix), the display number (DIR/display), Xvfb's process id
# (DIR/xvfb.pid) and the logs. Every wait is bounded.
set -euo pipefail

command=${1:?usage: wine_session.sh start|stop|run DIR [PROGRAM ARGS...]}
dir=${2:?usage: wine_session.sh start|stop|run DIR [PROGRAM ARGS...]}
shift 2

export WINEPREFIX="$dir/prefix"
export WINEDEBUG=-all
# No prompts to install Mono or Gecko while the prefix is made.
export WINEDLLOVERRIDES="mscoree=;mshtml="

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

make_prefix() {
  rm -rf "$WINEPREFIX"
  echo "Creating the Wine prefix $WINEPREFIX ..."
  bounded 180 wineboot --init
  bounded 60 wineserver -w
  # Wine's own copies of the standard fonts, "MS Sans Serif" among them.
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  # There is no window manager on Xvfb: Wine draws the frames itself.
  bounded 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  bounded 60 wineserver -w
  touch "$WINEPREFIX/.perlwick-ready"
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

case $command in
  start)
    dpi=${1:-96}
    mkdir -p "$dir"
    : >"$dir/wine.log"
    stop_session # whatever an interrupted run left behind
    start_xvfb
    DISPLAY=$(session_display)
    export DISPLAY
    [ -f "$WINEPREFIX/.perlwick-ready" ] || make_prefix
    set_dpi "$dpi"
    # One wineserver for all the tests, started before them and warmed up, so that no
    # test waits for Wine's background services to start or to let go of its output.
    bounded 30 wineserver -p
    bounded 60 wine cmd /c exit
    echo "Wine session ready: DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX, $dpi DPI"
    ;;
  stop)
    stop_session
    ;;
  run)
    DISPLAY=$(session_display)
    export DISPLAY
    exec wine "$@"
    ;;
  *)
    echo "wine_session: unknown command $command" >&2
    exit 2
    ;;
esac
