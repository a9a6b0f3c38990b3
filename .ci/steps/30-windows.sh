#!/usr/bin/env bash
# Windows build: cross-compiles Tabulon.exe and TabulonCheck.exe with MinGW-w64
# and runs the unit tests and the end-to-end cases under Wine (cmake --workflow
# --preset windows), then makes the ZIP package a Windows user downloads and
# checks its contents.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/packages.sh

# Packages, as "command-or-path:package". The POSIX thread model compiler
# comes with g++-mingw-w64-x86-64; GoogleTest is built from libgtest-dev's
# sources; `script` gives the program a terminal, and so a console.
need \
  x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64 \
  wine:wine \
  wine64:wine64 \
  script:bsdutils \
  flock:util-linux \
  unzip:unzip \
  file:file \
  /usr/src/googletest/CMakeLists.txt:libgtest-dev
install_missing

# A Wine prefix of its own (several hundred MB), made quietly before the
# first test needs it and removed at the end with everything Wine kept for
# it: the tests' lock file and its server's directory, server-DEV-INODE of
# the prefix, under /tmp/.wine-UID or (Wine 8) a /tmp/wine-XXXXXX of its own.
# A WINEPREFIX given by the caller is used and kept.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
own_prefix=""
if [[ -z ${WINEPREFIX:-} ]]; then
  WINEPREFIX=$(mktemp -d /tmp/tabulonwine.XXXXXX)
  own_prefix=$WINEPREFIX
fi
export WINEPREFIX
work=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  [[ -z $work ]] || rm -rf "$work"
  if [[ -n $own_prefix ]]; then
    local server
    server=$(stat -c '%d %i' "$own_prefix" | { read -r dev ino && printf 'server-%x-%x' "$dev" "$ino"; })
    rm -rf "$own_prefix" "$own_prefix.lock"
    for dir in "/tmp/.wine-$(id -u)" /tmp/wine-*; do
      [[ -d $dir/$server && -O $dir ]] || continue
      rm -rf "${dir:?}/$server"
      rmdir "$dir" 2>/dev/null || true  # unless another prefix's server is there
    done
  fi
}
trap cleanup EXIT
if [[ ! -e $WINEPREFIX/.tabulon-ready ]]; then
  echo "-- making the Wine prefix $WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  touch "$WINEPREFIX/.tabulon-ready"
fi

cmake --workflow --preset windows

echo "-- the Windows package"
(cd build/windows && rm -f ./*.zip && cpack -G ZIP >/dev/null)
zip=$(ls build/windows/tabulon-*-win64.zip)
unzip -l "$zip"
# What a Windows user unpacks, under the folder named like the archive. A new
# program or document in the package is added here.
contents=(
  Tabulon.exe
  TabulonCheck.exe
  README.md
  LICENSE
  examples/customers.txt
  examples/customers.params
  examples/customers.expected.csv
)
top=$(basename "$zip" .zip)
if ! diff <(printf "$top/%s\n" "${contents[@]}" | sort) <(unzip -Z1 "$zip" | grep -v '/$' | sort); then
  echo "30-windows: $zip holds other files than expected (<: missing, >: unexpected)" >&2
  exit 1
fi
work=$(mktemp -d)
unzip -q "$zip" -d "$work"
for program in Tabulon.exe TabulonCheck.exe; do
  file "$work/$top/$program" | grep -q 'PE32+ executable (console) x86-64' || {
    echo "30-windows: $program in $zip is not a 64-bit console program" >&2
    exit 1
  }
done
cmp "$work/$top/LICENSE" LICENSE
cmp "$work/$top/examples/customers.txt" examples/customers.txt
echo "-- package OK: $zip"
