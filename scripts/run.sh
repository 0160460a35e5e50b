#!/usr/bin/env bash
# Builds the Windows program and starts it under Wine on this desktop, installing what is
# missing first. The records live in the Wine prefix's C: drive:
# ${WINEPREFIX:-~/.wine}/drive_c/perlwickrecords.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

if [ -z "${DISPLAY:-}" ]; then
  cat >&2 <<'MESSAGE'
Perlwick is a Windows program and needs a display to show its window, but DISPLAY is not set.
Run this command from a terminal inside your desktop session, or use a virtual display:
  xvfb-run ./scripts/run.sh
MESSAGE
  exit 1
fi

# The mingw64 build folder also holds the Windows tests, which build GoogleTest from source.
require_packages "${MINGW_PACKAGES[@]}" "${WINE_PACKAGES[@]}" googletest

cmake --preset mingw64 >/dev/null
cmake --build --preset mingw64 --target perlwick -j "$(nproc)"

export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Preparing the Wine prefix $WINEPREFIX ..."
  # No Mono or Gecko: Perlwick needs neither, and their installers would ask questions.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1
  wineserver -w
fi
# The window's font is MS Sans Serif; Wine ships it but does not put it in a new prefix.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
for font in /usr/share/wine/fonts/*; do
  [ -e "$fonts/$(basename "$font")" ] || cp "$font" "$fonts/"
done

echo "Starting Perlwick. Its records file is $WINEPREFIX/drive_c/perlwickrecords.txt"
exec wine build/mingw64/perlwick.exe
