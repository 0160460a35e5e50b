#!/usr/bin/env bash
# Builds the Windows program and starts it under Wine on this display, installing what is
# missing first, and says what it is doing at each step. The records live in the Wine
# prefix's C: drive: ${WINEPREFIX:-~/.wine}/drive_c/perlwickrecords.txt.
#
#   scripts/run.sh                      builds and starts Perlwick
#   scripts/run.sh --screenshot FILE    the same, then saves a picture of the screen in
#                                       FILE (PNG) once the window is up, and closes it:
#                                       for a display nobody looks at, such as xvfb-run's
#   scripts/run.sh --window-setting     prints the setting for Perlwick's window that this
#                                       display needs, and does nothing else
set -euo pipefail
# A relative FILE is where the caller is, not in the repository.
caller_dir=$PWD
cd "$(dirname "$0")/.."
source scripts/setup.sh

logs=$PWD/build/run-logs
screenshot=""
case ${1:-} in
  --screenshot)
    screenshot=${2:?usage: scripts/run.sh --screenshot FILE.png}
    [[ $screenshot = /* ]] || screenshot=$caller_dir/$screenshot
    ;;
  --window-setting) ;;
  "") ;;
  *)
    echo "usage: scripts/run.sh [--screenshot FILE.png | --window-setting]" >&2
    exit 2
    ;;
esac

if [ -z "${DISPLAY:-}" ]; then
  cat >&2 <<'MESSAGE'
Perlwick is a Windows program and needs a display to show its window, but DISPLAY is not set.
Run this command from a terminal inside your desktop session. Without a desktop, let it
take a picture of Perlwick on a virtual display:
  xvfb-run -s '-screen 0 1024x768x24' ./scripts/run.sh --screenshot perlwick.png
MESSAGE
  exit 1
fi

# step WHAT DURATION LOG COMMAND...: runs a step, its output going to LOG, and says what
# it does, how long it may take the first time, and how long it took.
step() {
  local what=$1 duration=$2 log=$3
  shift 3
  mkdir -p "$logs"
  printf '%s (%s) ... ' "$what" "$duration"
  local start=$SECONDS
  if ! "$@" >"$log" 2>&1; then
    echo "failed."
    echo "Perlwick could not be started: $what failed. Its log is $log; the end of it:" >&2
    tail -n 15 "$log" >&2 || true
    exit 1
  fi
  echo "done in $((SECONDS - start)) s."
}

# Whether a window manager runs on this display: one that follows the freedesktop.org
# conventions names its window in the root window's _NET_SUPPORTING_WM_CHECK.
window_manager_running() {
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# Without a window manager, Wine draws Perlwick's title bar and close box and moves the
# keyboard focus itself ("Managed" N), for perlwick.exe alone: Wine's per-program
# settings, which leave every other Wine program as it is. On a desktop, Perlwick's
# window is the window manager's, as any other.
window_setting() {
  if window_manager_running; then echo "Managed=default"; else echo "Managed=N"; fi
}

# The packages the build and Wine need; the mingw64 build folder also holds the Windows
# tests, which build GoogleTest from source. xprop looks for a window manager.
packages=("${MINGW_PACKAGES[@]}" "${WINE_PACKAGES[@]}" googletest x11-utils)
[ -z "$screenshot" ] || packages+=(imagemagick)
not_installed=$(missing_packages "${packages[@]}")
if [ -n "$not_installed" ]; then
  step "Installing $not_installed" "about 40 s, done once" "$logs/install.log" \
    require_packages "${packages[@]}"
fi

if [ "${1:-}" = --window-setting ]; then
  window_setting
  exit 0
fi

export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}"
export WINEDEBUG="${WINEDEBUG:--all}"

configure_and_build() {
  cmake --preset mingw64 && cmake --build --preset mingw64 --target perlwick -j "$(nproc)"
}
step "Building build/mingw64/perlwick.exe" "about a minute the first time" "$logs/build.log" \
  configure_and_build

make_prefix() {
  # No Mono or Gecko: Perlwick needs neither, and their installers would ask questions.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init && wineserver -w
}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  step "Making the Wine prefix $WINEPREFIX" "about 20 s, done once" "$logs/prefix.log" \
    make_prefix
fi

# The window's font is MS Sans Serif; Wine ships it but does not put it in a new prefix.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
for font in /usr/share/wine/fonts/*; do
  [ -e "$fonts/$(basename "$font")" ] || cp "$font" "$fonts/"
done

app_key='HKCU\Software\Wine\AppDefaults\perlwick.exe\X11 Driver'
set_window_setting() {
  if [ "$(window_setting)" = Managed=N ]; then
    wine reg add "$app_key" /v Managed /d N /f
  else
    wine reg delete "$app_key" /v Managed /f || true
  fi
}
if window_manager_running; then
  what="A window manager runs on $DISPLAY: Perlwick's window is its"
else
  what="No window manager runs on $DISPLAY: Wine draws Perlwick's frame and moves its focus"
fi
step "$what" "a few seconds" "$logs/window-setting.log" set_window_setting

records="$WINEPREFIX/drive_c/perlwickrecords.txt"
# Where the records are, or will be once the first record is added.
records_file_note() {
  if [ -f "$records" ]; then
    echo "Its records file is $records"
  else
    echo "There is no records file yet: the first \"Add\" makes $records"
  fi
}
if [ -z "$screenshot" ]; then
  echo "Starting Perlwick. $(records_file_note)"
  exec wine build/mingw64/perlwick.exe
fi

# A picture of the screen once Perlwick's window is up, then Perlwick is closed.
wine build/mingw64/perlwick.exe >"$logs/perlwick.log" 2>&1 &
perlwick=$!
window_up() {
  for _ in $(seq 300); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Perlwick"' && return 0
    kill -0 "$perlwick" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
step "Starting Perlwick and waiting for its window" "a few seconds" "$logs/perlwick-start.log" \
  window_up
sleep 1 # its first paint
step "Saving a picture of the screen in $screenshot" "a second" "$logs/screenshot.log" \
  import -window root "$screenshot"
wineserver -k >/dev/null 2>&1 || kill "$perlwick" 2>/dev/null || true
echo "Done: the picture is $screenshot. $(records_file_note)"
