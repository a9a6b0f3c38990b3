#!/usr/bin/env bash
# Windows build: cross-compiles Tabulon.exe with MinGW-w64 and runs the unit
# tests and the end-to-end cases under Wine (cmake --workflow --preset windows).
set -euo pipefail
cd "$(dirname "$0")/../.."

# Packages, as "command-or-path:package". The POSIX thread model compiler
# comes with g++-mingw-w64-x86-64; GoogleTest is built from libgtest-dev's
# sources; `script` gives the program a terminal, and so a console.
need=(
  x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64
  wine:wine
  wine64:wine64
  script:bsdutils
  flock:util-linux
  /usr/src/googletest/CMakeLists.txt:libgtest-dev
)
missing=()
for entry in "${need[@]}"; do
  probe=${entry%%:*} package=${entry#*:}
  if [[ $probe == /* ]]; then [[ -e $probe ]] || missing+=("$package")
  else command -v "$probe" >/dev/null 2>&1 || missing+=("$package"); fi
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A Wine prefix of its own, made quietly before the first test needs it.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=${WINEPREFIX:-/tmp/tabulon-ci-wine}
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [[ ! -e $WINEPREFIX/.tabulon-ready ]]; then
  echo "-- making the Wine prefix $WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  touch "$WINEPREFIX/.tabulon-ready"
fi

cmake --workflow --preset windows
