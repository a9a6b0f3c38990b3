#!/usr/bin/env bash
# Builds the Debian package (cmake --workflow --preset package), runs lintian
# on it (any error or warning fails the step), checks that its programs are
# position-independent, hardened, stripped and linked against the shared
# runtimes it depends on, then installs it with dpkg, converts the bundled
# example with the installed program, and checks the manual pages, the
# copyright file and the versions shown.
#
# The machine is left as found: the package is installed (and removed again
# at the end) only when no tabulon package was installed before; otherwise
# the same checks run on the package's files unpacked into a scratch
# directory, and the installed package stays as it was.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/packages.sh

need \
  dpkg-shlibdeps:dpkg-dev \
  dpkg-buildflags:dpkg-dev \
  lintian:lintian \
  file:file \
  readelf:binutils \
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
rm -f build/package/tabulon_*.deb
cmake --workflow --preset package >/dev/null
deb=$(ls build/package/tabulon_*.deb)
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
field() { dpkg-deb -f "$deb" "$1"; }
version=$(sed -n 's/^project(tabulon VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[[ $(field Package) == tabulon ]] || fail "package name $(field Package)"
[[ -n $version && $(field Version) == "$version" ]] || fail "version $(field Version), project $version"
[[ $(field Maintainer) == "Tabulon maintainers <maintainers@tabulon.invalid>" ]] ||
  fail "maintainer $(field Maintainer)"
[[ $(field Depends) == *libc6* && $(field Depends) == *libstdc++6* ]] ||
  fail "no shared library dependencies: $(field Depends)"

echo "-- lintian"
# Every tag down to the pedantic ones is shown; errors and warnings fail. The
# overridden tags (the code page 932 example) are listed by a second run,
# since lintian counts a shown override as what it overrides.
lintian --display-info --pedantic --fail-on error,warning "$deb" ||
  fail "lintian reports errors or warnings on $deb"
lintian --show-overrides --tags national-encoding "$deb" || true

work=$(mktemp -d /tmp/tabulonpkg.XXXXXX)  # no '-' in the path: the converter ignores such names
installed_here=""
cleanup() {
  if [[ -n $installed_here ]]; then dpkg --purge tabulon >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "-- the programs: PIE, hardened, stripped"
dpkg-deb -x "$deb" "$work/root"
for program in tabulon tabulon-check; do
  binary=$work/root/usr/bin/$program
  description=$(file -b "$binary")
  [[ $description == *"pie executable"* && $description == *"dynamically linked"* ]] ||
    fail "$program is not a dynamically linked PIE: $description"
  [[ $description == *", stripped"* ]] || fail "$program is not stripped: $description"
  # Whole outputs, not pipes into grep -q: under pipefail, readelf cut off
  # by an early match would fail the test.
  [[ $(readelf -d "$binary") == *BIND_NOW* ]] || fail "$program is not linked with -z now"
  [[ $(readelf -lW "$binary") == *GNU_RELRO* ]] || fail "$program has no read-only relocations"
  [[ $(readelf --dyn-syms -W "$binary") == *__stack_chk_fail* ]] || fail "$program has no stack protector"
done

if previous=$(dpkg-query -W -f='${Status} ${Version}' tabulon 2>/dev/null) &&
  [[ $previous == *" installed "* ]]; then
  echo "-- tabulon is installed already ($previous): the unpacked package is checked instead"
  prefix=$work/root/usr
else
  echo "-- installing it"
  installed_here=yes
  dpkg -i "$deb"
  prefix=/usr
fi

echo "-- converting the bundled example with $prefix/bin/tabulon"
cp examples/customers.txt examples/customers.params "$work"
(cd "$work" && "$prefix/bin/tabulon" -h -f customers.params customers.txt customers.csv >stdout.txt 2>stderr.txt) ||
  fail "the installed program failed"
[[ ! -s $work/stdout.txt && ! -s $work/stderr.txt ]] || fail "the installed program wrote a message"
cmp "$work/customers.csv" examples/customers.expected.csv || fail "output differs from examples/customers.expected.csv"

echo "-- the versions shown are the package's"
usage=$("$prefix/bin/tabulon" 2>&1)
banner=${usage%%$'\r'*}
[[ $banner == "Tabulon ver$version" ]] || fail "the banner says $banner"
shown=$("$prefix/bin/tabulon-check" --version | tr -d '\r')
[[ $shown == "tabulon-check $version" ]] || fail "tabulon-check --version says $shown"

echo "-- the copyright file holds the licence, the changelog is there"
doc=$prefix/share/doc/tabulon
[[ $(head -n 1 "$doc/copyright") == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] ||
  fail "$doc/copyright is not in the machine-readable format"
grep -qx "Copyright: 2026 The Tabulon developers" "$doc/copyright" || fail "$doc/copyright: no copyright line"
# The stand-alone licence paragraph (after an empty line): continuation lines
# start with a blank, and "." stands for an empty line.
awk 'on { print } prev == "" && $0 == "License: Expat" { on = 1 } { prev = $0 }' "$doc/copyright" |
  sed 's/^ //; s/^\.$//' >"$work/licence.txt"
sed -n '5,$p' LICENSE | cmp - "$work/licence.txt" || fail "the licence in $doc/copyright differs from LICENSE"
[[ $(zcat "$doc/changelog.gz") == "tabulon ($version) "* ]] ||
  fail "$doc/changelog.gz has no entry for $version at the top"

echo "-- checking the bundled example with $prefix/bin/tabulon-check"
# Its records carry a deletion flag after the last field: one finding, status 1.
status=0
(cd "$work" && "$prefix/bin/tabulon-check" -f customers.params customers.txt >check.txt 2>check.err) || status=$?
[[ $status == 1 && ! -s $work/check.err ]] || fail "the installed layout check ended with status $status"
report=$(iconv -f CP932 "$work/check.txt")
[[ $report == $'レイアウトの幅93バイトより長いレコード: 6件(最初は1行目)\r' ]] ||
  fail "the installed layout check reported: $report"

if [[ -n $installed_here ]]; then
  echo "-- the manual pages are installed"
  page=$(man -w tabulon) || fail "man -w tabulon finds no page"
  [[ $page == /usr/share/man/man1/tabulon.1* ]] || fail "man -w tabulon gives $page"
  [[ $(MANPAGER=cat MANWIDTH=80 man tabulon 2>"$work/man.err") == *fixed-width* ]] || fail "the page does not render"
  [[ ! -s $work/man.err ]] || fail "man tabulon warned: $(cat "$work/man.err")"
  page=$(man -w tabulon-check) || fail "man -w tabulon-check finds no page"
  [[ $page == /usr/share/man/man1/tabulon-check.1* ]] || fail "man -w tabulon-check gives $page"
fi
echo "-- the manual pages read without a UTF-8 locale: every message has its description"
for entry in "tabulon.1.gz:[name the text file]" "tabulon-check.1.gz:[nothing found]"; do
  page=$prefix/share/man/man1/${entry%%:*}
  LANG=C LC_ALL=C MANPAGER=cat MANWIDTH=80 man -l "$page" 2>/dev/null >"$work/page.txt"
  grep -qF "${entry#*:}" "$work/page.txt" || fail "$page shows no ${entry#*:} under LANG=C"
done
echo "-- package OK: $deb"
