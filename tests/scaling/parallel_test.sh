#!/usr/bin/env bash
# Checks the GNU parallel recipes of docs/scaling.md against single runs:
#  (b) one large file cut into blocks on line boundaries (--pipepart), each
#      block converted from /dev/stdin to /dev/stdout, joined in order (-k):
#      the same bytes as one run over the whole file, with and without a
#      header line added by a run on empty input;
#  (a) many files converted concurrently, one output per input, each the
#      same as a run on that file alone.
# Usage: parallel_test.sh PATH-TO-TABULON. Exits 77 (skipped) without parallel.
set -euo pipefail
export LC_ALL=C  # awk counts bytes, not characters

if ! command -v parallel >/dev/null 2>&1; then
  echo "SKIP: GNU parallel is not installed"
  exit 77
fi
binary=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tabulonscaling.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Only relative names from here on: the program ignores names holding a '-',
# and the temporary directory's path may hold one.
cd "$work"
ln -s "$binary" tabulon

fail() {
  echo "FAIL: $*"
  exit 1
}

# The layout: every type and trim code, a zero and a negative width.
printf '%s\r\n' 'E,6,,Code' 'X,20,R,Name' 'E,8,T,Postal' 'N,10,Z,Amount' 'X,4,L,Flag' \
  'N,0,,Nothing' 'X,-2,,Back' 'N,6,,Tail' >p.txt

# About 4 MB of records, the same every time: code page 932 names padded with
# full-width blanks, commas and quotes, zero-padded amounts, CR LF and LF line
# ends, lone CRs, empty, short and long lines, and no line end at the end.
awk 'BEGIN {
  split("\216\122\223\143\201\100\221\276\230\131|\215\262\223\241\201\100\211\324\216\161|" \
        "Tanaka, \"Co\"|\227\351\226\330\201\100\201\100\201\100", names, "|")
  for (i = 1; i <= 70000; i++) {
    end = (i % 11 == 0) ? "\n" : "\r\n"
    if (i % 97 == 0) { printf "%s", end; continue }
    if (i % 89 == 0) { printf "%06d%s", i, end; continue }
    name = names[i % 4 + 1]
    if (i % 13 == 0) name = name "\r"
    printf "%06d%-20s%03d-%04d%010d%4s%s%s", i, name, i % 1000, i % 10000, (i * 7919) % 100000000,
           (i % 3 ? " y" : "n "), (i % 17 ? "" : ",\"x\",,pad"), end
  }
  printf "999999last line"
}' >big.txt
[[ $(wc -c <big.txt) -gt 3000000 ]] || fail "the generated file is too small"

echo "-- (b) one file in blocks: --pipepart --block 256k -k"
./tabulon -f p.txt big.txt single.csv
[[ -s single.csv ]] || fail "the single run wrote nothing"
parallel --pipepart -a big.txt --block 256k -k --joblog blocks.log \
  ./tabulon -f p.txt /dev/stdin /dev/stdout >joined.csv 2>blocks.err
[[ ! -s blocks.err ]] || fail "the block runs wrote messages: $(cat blocks.err)"
jobs=$(($(wc -l <blocks.log) - 1))
((jobs > 4)) || fail "only $jobs block(s): the file was not split"
cmp single.csv joined.csv || fail "blocks joined in order differ from a single run"
echo "ok - $jobs blocks joined give the single run's bytes"

echo "-- (b) with a header line, TAB-separated"
./tabulon -t -h -f p.txt big.txt single_header.tsv
# As documented: the header first, then the blocks appended. (Not one group
# redirected to the file: /dev/stdout on a regular file is opened anew and
# emptied, and the later writes through the shell's descriptor would start
# at offset 0 again.)
printf '' | ./tabulon -t -h -f p.txt /dev/stdin /dev/stdout >joined_header.tsv
parallel --pipepart -a big.txt --block 256k -k \
  ./tabulon -t -f p.txt /dev/stdin /dev/stdout >>joined_header.tsv
cmp single_header.tsv joined_header.tsv || fail "header plus blocks differ from a single run"
echo "ok - header from an empty run plus the blocks give the single run's bytes"

echo "-- (a) many files at once, one output per input"
awk '{ print > ("part" (NR % 6) ".txt") }' big.txt
parallel -j 4 ./tabulon -h -f p.txt {} {.}.csv ::: part*.txt 2>files.err
[[ ! -s files.err ]] || fail "the file runs wrote messages: $(cat files.err)"
inputs=0
for input in part*.txt; do
  inputs=$((inputs + 1))
  ./tabulon -h -f p.txt "$input" alone.csv
  cmp "${input%.txt}.csv" alone.csv || fail "${input%.txt}.csv differs from a run on $input alone"
done
outputs=$(ls part*.csv | wc -l)
((inputs == 6 && outputs == inputs)) || fail "$inputs inputs gave $outputs outputs"
echo "ok - $inputs files converted concurrently, each as by a run of its own"
echo "3 passed, 0 failed"
