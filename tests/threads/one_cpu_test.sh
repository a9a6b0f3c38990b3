#!/usr/bin/env bash
# A run on every CPU against the same run held to one (taskset -c 0), which
# converts line by line: standard output (the failure report with its code
# location), exit status and the output file must be the same bytes, for
# texts large enough to go in blocks, on success and on every failure: a
# file-size limit at many sizes, a full disk, a reader that leaves, and
# memory that runs out.
# Usage: one_cpu_test.sh PATH-TO-TABULON. Exits 77 (skipped) with one CPU.
set -uo pipefail
export LC_ALL=C

binary=$(realpath "$1")
if ! command -v taskset >/dev/null || ! taskset -c 1 true 2>/dev/null; then
  echo "SKIP: fewer than two CPUs, or no taskset"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tabulonthreads.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"  # relative names only: the program takes no name holding a '-'
ln -s "$binary" tabulon

printf '%s\r\n' 'E,6,,Code' 'X,20,R,Name' 'E,8,T,Postal' 'N,10,Z,Amount' 'X,4,L,Flag' \
  'N,0,,Nothing' 'X,-2,,Back' 'N,6,,Tail' >p.txt
# About 4 MB: code page 932 names, quotes and commas, CR LF and LF line ends,
# lone CRs, empty lines, a line of 400 KB (longer than a block, past the
# first 2 MiB that go line by line) and no line end at the end.
awk 'BEGIN {
  split("\216\122\223\143\201\100\221\276\230\131|Tanaka, \"Co\"|\227\351\226\330\201\100", names, "|")
  for (i = 1; i <= 60000; i++) {
    end = (i % 11 == 0) ? "\n" : "\r\n"
    if (i % 97 == 0) { printf "%s", end; continue }
    if (i == 45000) { for (j = 0; j < 40000; j++) printf "0123456789"; printf "%s", end }
    name = names[i % 3 + 1]
    if (i % 13 == 0) name = name "\r"
    printf "%06d%-20s%03d-%04d%010d%4s%s", i, name, i % 1000, i % 10000, (i * 7919) % 100000000,
           (i % 3 ? " y" : "n "), end
  }
  printf "999999last line"
}' >big.txt
head -c 2500000 big.txt >ctrlz.txt && printf '\032tail\r\n' >>ctrlz.txt && cat big.txt >>ctrlz.txt
# A line of 24 MB that one field keeps whole, among ordinary records, in
# the part converted in blocks.
printf 'X,6\r\nX,30000000\r\n' >wide.txt
{ head -c 2500000 big.txt; head -c 24000000 /dev/zero | tr '\000' a; printf '\r\n'; head -c 800000 big.txt; } >long.txt

failed=0
# Runs the shell command $2 (the program is "$T") once held to one CPU and
# once on all, each in a fresh directory, and compares everything they leave.
both() {
  local name=$1 command=$2
  for mode in one all; do
    rm -rf "$mode" && mkdir "$mode"
    local wrapper=""
    [[ $mode == one ]] && wrapper="taskset -c 0"
    (cd "$mode" && T="$wrapper ../tabulon" sh -c "$command" >stdout 2>stderr; echo "$?" >status)
  done
  if diff -r one all >/dev/null; then
    echo "ok   $name (status $(cat one/status), $(du -b one | cut -f1) bytes)"
  else
    echo "FAIL $name"
    diff -r one all | head -c 600
    failed=1
  fi
}

both "conversion" '$T -f ../p.txt ../big.txt out.csv'
both "header, TAB" '$T -t -h -f ../p.txt ../big.txt out.csv'
both "text from a pipe" 'cat ../big.txt | $T -f ../p.txt /dev/stdin out.csv'
both "Ctrl-Z inside a block" '$T -h -f ../p.txt ../ctrlz.txt out.csv'
for limit in 0 1 2 1000 65535 65536 65537 131074 524287 1000001 1048576 2097153 2500000 3000001 4000000; do
  both "file-size limit $limit" "prlimit --fsize=$limit \$T -f ../p.txt ../big.txt out.csv"
done
both "full disk" '$T -h -f ../p.txt ../big.txt /dev/full'
for count in 10 70000 1000000 3000000; do
  both "reader leaves after $count bytes" "mkfifo out.csv && { head -c $count out.csv >head.txt & } &&
    \$T -f ../p.txt ../big.txt out.csv; status=\$?; wait; rm out.csv; exit \$status"
done
for kib in 30000 50000 70000 200000; do
  [[ -z ${TABULON_SANITIZED:-} ]] || break
  both "memory limit $kib KiB" "ulimit -v $kib && \$T -f ../wide.txt ../long.txt out.csv"
done
exit $failed
