# shellcheck shell=bash disable=SC2034
# Sourced by the project's commands: installs the Debian packages they need when missing.
# As root it runs apt-get itself; otherwise it prints the exact command and stops.

# missing_packages PACKAGE...: prints those of the packages that are not installed.
missing_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  echo "${missing[*]}"
}

# require_packages PACKAGE...
require_packages() {
  local missing=()
  read -r -a missing <<<"$(missing_packages "$@")"
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Perlwick needs these packages first. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing ${missing[*]} ..."
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The tools for the Linux build and its unit tests.
NATIVE_PACKAGES=(cmake make g++ googletest libgtest-dev libbenchmark-dev python3)
# The checks of the house rules: formatting and the scripts.
LINT_PACKAGES=(clang-format shellcheck)
# Clang with its sanitizers and libFuzzer, for the checks under AddressSanitizer and UBSan.
SANITIZER_PACKAGES=(clang libclang-rt-14-dev)
# The cross compilers for the Windows program (x86-64 and x86).
MINGW_PACKAGES=(cmake make g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools)
# The Windows installer's compiler.
INSTALLER_PACKAGES=(nsis)
# Wine, to run the Windows program on Linux, with the fonts its window uses.
WINE_PACKAGES=(wine wine64 fonts-wine)
# The private X display the Windows tests run their windows in, and the X tools that look
# at it.
TEST_PACKAGES=(xvfb xauth x11-utils)
