#!/usr/bin/env bash
# Builds the Debian package in its own build directory, installs it with
# dpkg, converts the bundled example with the installed program, checks that
# the manual page is installed and found, and that it renders without a
# warning, and that the licence and the copyright file are installed. Removes
# the package again at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/packages.sh

need \
  dpkg-shlibdeps:dpkg-dev \
  file:file \
  groff:groff-base \
  man:man-db \
  gzip:gzip
install_missing

fail() {
  echo "40-package: $*" >&2
  exit 1
}

echo "-- the manual pages render without warnings"
for page in docs/tabulon.1 docs/tabulon-check.1; do
  warnings=$(groff -ww -man -Tutf8 "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "groff warnings in $page:"$'\n'"$warnings"
done

echo "-- building the package"
build=build/ci-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTABULON_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
(cd "$build" && rm -f ./*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tabulon_*.deb)
dpkg-deb -I "$deb"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == tabulon ]] || fail "package name $(field Package)"
[[ $(field Version) == 1.1 ]] || fail "version $(field Version)"
[[ $(field Maintainer) == "Tabulon maintainers <maintainers@tabulon.invalid>" ]] ||
  fail "maintainer $(field Maintainer)"
# The program is linked statically where the tool chain can: then it needs no
# shared library; a dynamic build must name what it loads.
if file -L "$build/tabulon" | grep -q 'statically linked'; then
  [[ -z $(field Depends) ]] || fail "a static program with dependencies: $(field Depends)"
else
  [[ $(field Depends) == *libc6* ]] || fail "no shared library dependencies: $(field Depends)"
fi

echo "-- installing it"
work=$(mktemp -d /tmp/tabulonpkg.XXXXXX)  # no '-' in the path: the program ignores such names
trap 'dpkg -r tabulon >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
dpkg -i "$deb"

echo "-- converting the bundled example with /usr/bin/tabulon"
cp examples/customers.txt examples/customers.params "$work"
(cd "$work" && /usr/bin/tabulon -h -f customers.params customers.txt customers.csv >stdout.txt 2>stderr.txt) ||
  fail "the installed program failed"
[[ ! -s $work/stdout.txt && ! -s $work/stderr.txt ]] || fail "the installed program wrote a message"
cmp "$work/customers.csv" examples/customers.expected.csv || fail "output differs from examples/customers.expected.csv"

echo "-- the licence is installed, and the copyright file holds the same text"
doc=/usr/share/doc/tabulon
cmp "$doc/LICENSE" LICENSE || fail "$doc/LICENSE differs from LICENSE"
[[ $(head -n 1 "$doc/copyright") == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] ||
  fail "$doc/copyright is not in the machine-readable format"
grep -qx "Copyright: 2026 The Tabulon developers" "$doc/copyright" || fail "$doc/copyright: no copyright line"
# The stand-alone licence paragraph (after an empty line): continuation lines
# start with a blank, and "." stands for an empty line.
awk 'on { print } prev == "" && $0 == "License: Expat" { on = 1 } { prev = $0 }' "$doc/copyright" |
  sed 's/^ //; s/^\.$//' >"$work/licence.txt"
sed -n '5,$p' LICENSE | cmp - "$work/licence.txt" || fail "the licence in $doc/copyright differs from LICENSE"

echo "-- checking the bundled example with /usr/bin/tabulon-check"
# Its records carry a deletion flag after the last field: one finding, status 1.
status=0
(cd "$work" && /usr/bin/tabulon-check -f customers.params customers.txt >check.txt 2>check.err) || status=$?
[[ $status == 1 && ! -s $work/check.err ]] || fail "the installed layout check ended with status $status"
report=$(iconv -f CP932 "$work/check.txt")
[[ $report == $'レイアウトの幅93バイトより長いレコード: 6件(最初は1行目)\r' ]] ||
  fail "the installed layout check reported: $report"

echo "-- the manual pages are installed"
page=$(man -w tabulon) || fail "man -w tabulon finds no page"
[[ $page == /usr/share/man/man1/tabulon.1* ]] || fail "man -w tabulon gives $page"
MANPAGER=cat MANWIDTH=80 man tabulon 2>"$work/man.err" | grep -q "fixed-width" || fail "the page does not render"
[[ ! -s $work/man.err ]] || fail "man tabulon warned: $(cat "$work/man.err")"
page=$(man -w tabulon-check) || fail "man -w tabulon-check finds no page"
[[ $page == /usr/share/man/man1/tabulon-check.1* ]] || fail "man -w tabulon-check gives $page"
echo "-- package OK: $deb"
