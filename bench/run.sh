#!/usr/bin/env bash
# Throughput of tabulon against its peers on generated data.
#
#   bench/run.sh                  # peers: mixed, narrow and wide, 200 MB, 5 rounds
#   bench/run.sh peers SIZE ROUNDS [SHAPE...]
#   bench/run.sh scale            # tabulon alone: 1 MB to 1 GB, one 100 MB line, one record
#   bench/run.sh threads [SIZE ROUNDS FILES]  # 1 CPU against all, cat and dd; many files
#   bench/run.sh draft [SEEDS]     # tabulon-check --draft on generated layouts (bench/draft_score.py)
#   bench/run.sh against BINARY [SIZE ROUNDS [SHAPE...]]  # this build against another binary
#   bench/run.sh instructions [SIZE [BINARY...]]  # instructions a record (callgrind), load-free
#   bench/run.sh reserve [SIZE ROUNDS [DIR...]]  # writes with the space set aside first, and without
#
# "peers" times, interleaved and repeated on the same file: tabulon; a plain
# read/write copy (dd bs=128K, the ceiling); cut -b on the same columns; and
# gawk with FIELDWIDTHS doing the same trims and quoting (on a slice of the
# file, scaled by its size, as it is slow). It prints the median MB/s (by
# wall clock, by CPU time, and by user time alone, which leaves out the
# kernel's share that varies most from run to run on a shared machine), the
# ratio of wall-clock rates and the peak RSS of each. BENCH_TRACE=1 prints
# every single run as well.
#
# Builds into $BUILD_DIR (default build/bench) and writes its data under
# $WORK_DIR (default a fresh directory in /tmp, removed at the end; tabulon
# takes no file name holding a "-", so neither may these paths).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-peers}
build=${BUILD_DIR:-$root/build/bench}
work=${WORK_DIR:-$(mktemp -d /tmp/tabulon_bench.XXXXXX)}
mkdir -p "$work"
[[ -n ${WORK_DIR:-} ]] || trap 'rm -rf "$work"' EXIT

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTABULON_BENCH=ON -DTABULON_TESTS=OFF \
  >/dev/null
cmake --build "$build" -j2 --target tabulon tabulon-check tabulon_datagen tabulon_measure >/dev/null
tabulon=$build/tabulon
datagen=$build/bench/tabulon_datagen
measure=$build/bench/tabulon_measure

echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPU, $(grep -m1 'model name' /proc/cpuinfo |
  cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"

# Prints "WALL USER SYS MAXRSS_KIB" of one run; the command's output goes to
# $work/out or to its standard output, $work/stdout. Both are removed before
# the run, and the dirty pages of the last one written back (sync), so that
# no tool pays for truncating or writing back another's output.
timed() {
  rm -f "$work/out" "$work/stdout"
  sync
  local result
  result=$("$measure" -o "$work/stdout" "$@")
  [[ ${result##* } == 0 ]] || { echo "failed: $*" >&2; exit 1; }
  [[ -z ${BENCH_TRACE:-} ]] || echo "$1 $result" >&2
  echo "${result% *}"
}

# The cut list, the gawk widths and codes of a parameter file
# (type,width,trim,header lines; '#' starts a comment).
layout() {
  awk -F, '!/^#/ && NF >= 2 {
      w = $2 + 0; cut = cut (cut ? "," : "") (pos + 1) "-" (pos + w); pos += w
      fw = fw (fw ? " " : "") w; types = types (types ? " " : "") $1
      trims = trims (trims ? " " : "") ($3 == "" ? "-" : $3)
    } END { print cut; print fw; print types; print trims }' "$1"
}

gawk_program='
BEGIN { RS = "\r\n"; ORS = "\r\n"; n = split(types, T, " "); split(trims, R, " ") }
function quote(v) { gsub(/"/, "\"\"", v); return "\"" v "\"" }
{
  line = ""
  for (i = 1; i <= n; i++) {
    raw = v = $i
    t = R[i]
    if (t == "L" || t == "T" || t == "Z") sub(/^( |\201@)+/, "", v)
    if (t == "R" || t == "T") sub(/( |\201@)+$/, "", v)
    if (t == "Z") sub(/^[\001-0]+/, "", v)
    if (T[i] == "X") v = quote(v)
    else if (T[i] == "E") v = (sep == "," && index(raw, ",")) ? quote(v) : "=" quote(v)
    line = line (i > 1 ? sep : "") v
  }
  print line
}'

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

peers() {
  local size=${1:-200M} rounds=${2:-5}
  shift 2 || true
  local shapes=("$@")
  ((${#shapes[@]})) || shapes=(mixed narrow wide)
  local slice_target=$((8 << 20))
  printf '%-7s %-8s %9s %9s %9s %10s %9s\n' shape tool 'MB/s' 'cpu MB/s' 'user MB/s' 'tab/tool' \
    'RSS KiB'
  for shape in "${shapes[@]}"; do
    local params=$work/$shape.params text=$work/$shape.txt slice=$work/$shape.slice
    "$datagen" "$shape" "$size" "$params" "$text"
    local bytes record_len slice_bytes
    bytes=$(stat -c %s "$text")
    record_len=$(head -n1 "$text" | wc -c)
    slice_bytes=$((slice_target / record_len * record_len))
    head -c "$slice_bytes" "$text" >"$slice"
    local cut_list fw types trims
    { read -r cut_list; read -r fw; read -r types; read -r trims; } < <(layout "$params")
    declare -A wall=() cpu=() user=() rss=()
    for ((r = 0; r < rounds; r++)); do
      for tool in tabulon copy cut gawk; do
        local t n
        case $tool in
          tabulon) t=$(timed "$tabulon" -f "$params" "$text" "$work/out"); n=$bytes ;;
          copy) t=$(timed dd if="$text" of="$work/out" bs=128K status=none); n=$bytes ;;
          cut) t=$(timed cut -b "$cut_list" --output-delimiter=, "$text"); n=$bytes ;;
          gawk) t=$(timed env LC_ALL=C gawk -v FIELDWIDTHS="$fw" -v types="$types" \
            -v trims="$trims" -v sep=, "$gawk_program" "$slice"); n=$slice_bytes ;;
        esac
        read -r w u s m <<<"$t"
        wall[$tool]+="$(awk -v n="$n" -v w="$w" 'BEGIN { printf "%.1f", n / w / 1e6 }') "
        cpu[$tool]+="$(awk -v n="$n" -v c="$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')" \
          'BEGIN { printf "%.1f", (c > 0 ? n / c / 1e6 : 0) }') "
        user[$tool]+="$(awk -v n="$n" -v u="$u" 'BEGIN { printf "%.1f", (u > 0 ? n / u / 1e6 : 0) }') "
        rss[$tool]+="$m "
      done
    done
    rm -f "$work/stdout" "$work/out"
    local base
    base=$(tr ' ' '\n' <<<"${wall[tabulon]}" | grep . | median)
    for tool in tabulon copy cut gawk; do
      local mw mc mu mr
      mw=$(tr ' ' '\n' <<<"${wall[$tool]}" | grep . | median)
      mc=$(tr ' ' '\n' <<<"${cpu[$tool]}" | grep . | median)
      mu=$(tr ' ' '\n' <<<"${user[$tool]}" | grep . | median)
      mr=$(tr ' ' '\n' <<<"${rss[$tool]}" | grep . | sort -n | tail -1)
      printf '%-7s %-8s %9.1f %9.1f %9.1f %10.2f %9d\n' "$shape" "$tool" "$mw" "$mc" "$mu" \
        "$(awk -v a="$base" -v b="$mw" 'BEGIN { print a / b }')" "$mr"
    done
    rm -f "$text" "$slice"
  done
}

# The median MB/s (wall, CPU, user) and the peak RSS of ROUNDS runs of a
# command over a text file of BYTES bytes, as one table row.
rate_row() {
  local label=$1 bytes=$2 rounds=$3
  shift 3
  local walls="" cpus="" users="" rss=0
  for ((r = 0; r < rounds; r++)); do
    read -r w u s m <<<"$(timed "$@")"
    walls+="$(awk -v n="$bytes" -v w="$w" 'BEGIN { print n / w / 1e6 }') "
    cpus+="$(awk -v n="$bytes" -v c="$u" -v s="$s" 'BEGIN { print ((c + s) > 0 ? n / (c + s) / 1e6 : 0) }') "
    users+="$(awk -v n="$bytes" -v u="$u" 'BEGIN { print (u > 0 ? n / u / 1e6 : 0) }') "
    ((m > rss)) && rss=$m
  done
  printf '%-30s %9.1f %9.1f %9.1f %9d\n' "$label" "$(tr ' ' '\n' <<<"$walls" | grep . | median)" \
    "$(tr ' ' '\n' <<<"$cpus" | grep . | median)" "$(tr ' ' '\n' <<<"$users" | grep . | median)" \
    "$rss"
}

# tabulon alone: the same rate at every size, for one long line, and the
# time of a one-record conversion.
scale() {
  printf '%-30s %9s %9s %9s %9s\n' case 'MB/s' 'cpu MB/s' 'user MB/s' 'RSS KiB'
  local params=$work/mixed.params text=$work/mixed.txt
  for size in 1M 10M 100M 1G; do
    "$datagen" mixed "$size" "$params" "$text"
    # The plain copy at each size: the share of the wall-clock rate that the
    # kernel's reading and writing sets.
    local bytes
    bytes=$(stat -c %s "$text")
    rate_row "mixed $size" "$bytes" 5 "$tabulon" -f "$params" "$text" "$work/out"
    rate_row "copy (dd) $size" "$bytes" 3 dd if="$text" of="$work/out" bs=128K status=none
  done
  # One line of about 100 MB: one field covering all of it, and a layout
  # that reaches only its first 30 bytes.
  head -c 100000000 "$text" | tr -d '\r\n' >"$work/long.txt"
  rm -f "$text"
  printf 'X,100000000,R,Long\n' >"$work/long.params"
  local long_bytes
  long_bytes=$(stat -c %s "$work/long.txt")
  rate_row "one 100 MB line, one field" "$long_bytes" 3 \
    "$tabulon" -f "$work/long.params" "$work/long.txt" "$work/out"
  printf 'X,10,T,A\nE,20,L,B\n' >"$work/short.params"
  rate_row "one 100 MB line, 30-byte layout" "$long_bytes" 3 \
    "$tabulon" -f "$work/short.params" "$work/long.txt" "$work/out"
  # Linear cost: the CPU seconds of the line whole against ten runs of a
  # line a tenth of its length (the test suite checks the calls and bytes,
  # which do not depend on the machine's load; this is the timing).
  head -c $((long_bytes / 10)) "$work/long.txt" >"$work/tenth.txt"
  printf 'X,%s,R,Long\n' $((long_bytes / 10)) >"$work/tenth.params"
  local whole_cpu tenth_cpu=0
  read -r _ u s _ <<<"$(timed "$tabulon" -f "$work/long.params" "$work/long.txt" "$work/out")"
  whole_cpu=$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')
  for r in 1 2 3 4 5 6 7 8 9 10; do
    read -r _ u s _ <<<"$(timed "$tabulon" -f "$work/tenth.params" "$work/tenth.txt" "$work/out")"
    tenth_cpu=$(awk -v t="$tenth_cpu" -v u="$u" -v s="$s" 'BEGIN { print t + u + s }')
  done
  printf '%-30s %9.3f s CPU whole, %.3f s ten tenths (%.2f)\n' "one 100 MB line, linear" \
    "$whole_cpu" "$tenth_cpu" "$(awk -v a="$whole_cpu" -v b="$tenth_cpu" 'BEGIN { print (b > 0 ? a / b : 0) }')"
  rm -f "$work/tenth.txt" "$work/tenth.params"
  rm -f "$work/long.txt" "$work/out"
  # One record: process time (task clock) over 50 runs where perf can count
  # it, next to /bin/true; otherwise the median wall time of 5 runs.
  "$datagen" mixed 120 "$params" "$work/one.txt"
  if perf stat -e task-clock true >/dev/null 2>&1; then
    local ms
    for command in "$tabulon -f $params $work/one.txt $work/out" /bin/true; do
      ms=$(perf stat -r 50 -e task-clock -x, $command 2>&1 >/dev/null | awk -F, '/task-clock/ { print $1 }')
      printf '%-30s %8.2f ms of CPU (perf task-clock, mean of 50)\n' \
        "$([[ $command == /bin/true ]] && echo "/bin/true" || echo "one record")" "$ms"
    done
  else
    local walls=""
    for r in 1 2 3 4 5; do
      read -r w u s m <<<"$(timed "$tabulon" -f "$params" "$work/one.txt" "$work/out")"
      walls+="$w "
    done
    printf '%-30s %8.2f ms wall %13d\n' "one record" \
      "$(tr ' ' '\n' <<<"$walls" | grep . | median | awk '{ print $1 * 1000 }')" "$m"
  fi
}

# The median of the MB/s figures in a list ("a b c ...").
median_of() { tr ' ' '\n' <<<"$1" | grep . | median; }

# One large file on one CPU (taskset -c 0) and on every CPU the machine has,
# next to `cat > out` and the dd copy, interleaved; then many files at once
# under `parallel -j N` (N = CPUs), each run free to use every CPU against
# each held to one CPU of its own. GNU cat copies a regular file inside
# the kernel (copy_file_range: no byte passes through the program), dd reads
# and writes it as tabulon does: all/dd is the share of a plain copy that
# handles the bytes itself.
threads() {
  local size=${1:-200M} rounds=${2:-7} files=${3:-8}
  local cpus
  cpus=$(nproc)
  # How much of the machine is free: the CPU seconds that one busy loop per
  # CPU gets in a second of wall time (other sessions on a shared host take
  # the rest).
  local loops
  loops=$("$measure" sh -c 'for i in $(seq '"$cpus"'); do timeout 1 sh -c "while :; do :; done" & done; wait')
  printf '# CPUs free to a run: %.2f of %s\n' "$(awk '{ print ($2 + $3) / $1 }' <<<"$loops")" "$cpus"
  printf '%-7s %9s %9s %9s %9s %9s %9s %9s %9s\n' shape '1 CPU' "$cpus CPU" 'cat>out' 'dd' \
    'all/1' 'all/cat' 'all/dd' 'RSS KiB'
  for shape in mixed narrow wide; do
    local params=$work/$shape.params text=$work/$shape.txt
    "$datagen" "$shape" "$size" "$params" "$text"
    local bytes
    bytes=$(stat -c %s "$text")
    declare -A rate=()
    local rss=0
    for ((r = 0; r < rounds; r++)); do
      for tool in one all cat dd; do
        local t
        case $tool in
          one) t=$(timed taskset -c 0 "$tabulon" -f "$params" "$text" "$work/out") ;;
          all) t=$(timed "$tabulon" -f "$params" "$text" "$work/out") ;;
          cat) t=$(timed cat "$text") ;;
          dd) t=$(timed dd if="$text" of="$work/out" bs=128K status=none) ;;
        esac
        read -r w u s m <<<"$t"
        rate[$tool]+="$(awk -v n="$bytes" -v w="$w" 'BEGIN { printf "%.1f", n / w / 1e6 }') "
        [[ $tool == all ]] && ((m > rss)) && rss=$m
      done
    done
    local one all cat dd
    one=$(median_of "${rate[one]}") all=$(median_of "${rate[all]}")
    cat=$(median_of "${rate[cat]}") dd=$(median_of "${rate[dd]}")
    printf '%-7s %9.0f %9.0f %9.0f %9.0f %9.2f %9.2f %9.2f %9d\n' "$shape" "$one" "$all" "$cat" \
      "$dd" "$(awk -v a="$all" -v b="$one" 'BEGIN { print a / b }')" \
      "$(awk -v a="$all" -v b="$cat" 'BEGIN { print a / b }')" \
      "$(awk -v a="$all" -v b="$dd" 'BEGIN { print a / b }')" "$rss"
    rm -f "$text" "$work/out" "$work/stdout"
  done
  # Many files: each run free to use every CPU, against each run held to
  # the one CPU of its job slot; the total wall time of the whole set.
  if ! command -v parallel >/dev/null; then
    echo "many files: skipped, GNU parallel is not installed (apt-get install parallel)"
    return
  fi
  local params=$work/mixed.params
  local part=$(( $(numfmt --from=iec "$size") / files ))
  for ((i = 0; i < files; i++)); do "$datagen" mixed "$part" "$params" "$work/part$i.txt" "$i"; done
  local free="" held=""
  for ((r = 0; r < rounds; r++)); do
    read -r w _ <<<"$(timed parallel -j "$cpus" "$tabulon" -f "$params" {} {.}.csv ::: "$work"/part*.txt)"
    free+="$w "
    read -r w _ <<<"$(timed parallel -j "$cpus" taskset -c '{= $_ = slot() - 1 =}' "$tabulon" \
      -f "$params" {} {.}.csv ::: "$work"/part*.txt)"
    held+="$w "
  done
  free=$(median_of "$free") held=$(median_of "$held")
  printf '%s files of %s, parallel -j %s: %.3f s free, %.3f s held to one CPU each (%.3f)\n' \
    "$files" "$(numfmt --to=iec "$part")" "$cpus" "$free" "$held" \
    "$(awk -v a="$free" -v b="$held" 'BEGIN { print a / b }')"
  rm -f "$work"/part*
}

# This build against another tabulon binary (the same program before a
# change), on one CPU (taskset -c 0) and on every CPU, with `cat > out` and
# the dd copy in the same rounds: each round runs every tool once, in turn
# (in the opposite order every other round), so that a change in the
# machine's load falls on all of them alike. Prints
# the median seconds of each and the ratio other/this (above 1: this build
# is faster). The two binaries' outputs are compared once per shape.
against() {
  local other=${1:?usage: bench/run.sh against BINARY [SIZE ROUNDS [SHAPE...]]}
  local size=${2:-200M} rounds=${3:-7}
  shift 3 || shift $#
  local shapes=("$@")
  ((${#shapes[@]})) || shapes=(mixed narrow wide)
  printf '%-7s %8s %8s %8s %8s %8s %8s %8s %8s\n' shape 'this 1' 'other 1' 'ratio 1' \
    "this $(nproc)" "other $(nproc)" "ratio $(nproc)" 'cat>out' dd
  for shape in "${shapes[@]}"; do
    local params=$work/$shape.params text=$work/$shape.txt
    "$datagen" "$shape" "$size" "$params" "$text"
    "$tabulon" -f "$params" "$text" "$work/this.csv"
    "$other" -f "$params" "$text" "$work/other.csv"
    cmp -s "$work/this.csv" "$work/other.csv" || { echo "$shape: outputs differ" >&2; exit 1; }
    rm -f "$work/this.csv" "$work/other.csv"
    declare -A secs=()
    for ((r = 0; r < rounds; r++)); do
      # Every other round in the opposite order: no tool always follows the same one.
      local order=(this1 other1 thisN otherN cat dd)
      ((r % 2 == 0)) || order=(dd cat otherN thisN other1 this1)
      for tool in "${order[@]}"; do
        local t
        case $tool in
          this1) t=$(timed taskset -c 0 "$tabulon" -f "$params" "$text" "$work/out") ;;
          other1) t=$(timed taskset -c 0 "$other" -f "$params" "$text" "$work/out") ;;
          thisN) t=$(timed "$tabulon" -f "$params" "$text" "$work/out") ;;
          otherN) t=$(timed "$other" -f "$params" "$text" "$work/out") ;;
          cat) t=$(timed sh -c 'cat "$1" > "$2"' cat "$text" "$work/out") ;;
          dd) t=$(timed dd if="$text" of="$work/out" bs=128K status=none) ;;
        esac
        secs[$tool]+="${t%% *} "
        [[ -z ${BENCH_TRACE:-} ]] || echo "$shape $tool ${t%% *}" >&2
      done
    done
    declare -A m=()
    for tool in this1 other1 thisN otherN cat dd; do m[$tool]=$(median_of "${secs[$tool]}"); done
    printf '%-7s %8.3f %8.3f %8.2f %8.3f %8.3f %8.2f %8.3f %8.3f\n' "$shape" "${m[this1]}" \
      "${m[other1]}" "$(awk -v a="${m[other1]}" -v b="${m[this1]}" 'BEGIN { print a / b }')" \
      "${m[thisN]}" "${m[otherN]}" "$(awk -v a="${m[otherN]}" -v b="${m[thisN]}" 'BEGIN { print a / b }')" \
      "${m[cat]}" "${m[dd]}"
    rm -f "$text" "$work/out" "$work/stdout"
  done
}

# Instructions a record of each shape (its fields beside it), for this build and any
# other binaries given (callgrind counts every instruction the program
# runs, on one thread: a measure that does not move with the machine's
# load or its CPU, unlike any time). Each binary's output is compared with
# this build's.
instructions() {
  local size=${1:-10M}
  shift || true
  command -v valgrind >/dev/null || { echo "instructions: valgrind is not installed" >&2; exit 1; }
  local bins=("$tabulon" "$@")
  printf '%-7s %9s %7s' shape records fields
  for bin in "${bins[@]}"; do printf ' %16s' "$(basename "$(dirname "$bin")")/$(basename "$bin")"; done
  echo
  for shape in mixed narrow wide; do
    local params=$work/$shape.params text=$work/$shape.txt
    "$datagen" "$shape" "$size" "$params" "$text"
    local records fields
    records=$(wc -l <"$text")
    fields=$(grep -c -v '^#' "$params")
    printf '%-7s %9d %7d' "$shape" "$records" "$fields"
    for bin in "${bins[@]}"; do
      local log=$work/callgrind.log
      taskset -c 0 valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file="$log" \
        "$bin" -f "$params" "$text" "$work/out.csv"
      [[ $bin == "$tabulon" ]] && mv "$work/out.csv" "$work/this.csv"
      [[ ! -e $work/out.csv ]] || cmp -s "$work/this.csv" "$work/out.csv" ||
        { echo "$shape: $bin writes other bytes" >&2; exit 1; }
      local ir
      ir=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$log")
      printf ' %16s' "$(awk -v i="$ir" -v r="$records" 'BEGIN { printf "%.1f", i / r }')"
    done
    echo
    rm -f "$text" "$work"/*.csv "$work/callgrind.log"
  done
}

# The kernel's cost of writing a file in 64 KiB requests (the output's
# write-outs) with its space set aside first (fallocate --keep-size, as an
# output past 1 MiB sets it aside on ext4) and without, on the file system
# of each DIR (default the work directory): median wall and system seconds.
reserve() {
  local size=${1:-200M} rounds=${2:-7}
  shift 2 || shift $#
  local dirs=("$@")
  ((${#dirs[@]})) || dirs=("$work")
  command -v fallocate >/dev/null || { echo "reserve: fallocate (util-linux) is missing" >&2; exit 1; }
  "$datagen" mixed "$size" "$work/mixed.params" "$work/mixed.txt"
  local text=$work/mixed.txt bytes
  bytes=$(stat -c %s "$text")
  printf '%-24s %10s %10s %10s %10s %7s\n' "file system" "plain" "sys" "set aside" "sys" "ratio"
  for dir in "${dirs[@]}"; do
    local out=$dir/reserve.out plain=() plain_sys=() aside=() aside_sys=()
    for ((r = 0; r < rounds; r++)); do
      local result
      rm -f "$out"
      result=$(timed dd if="$text" of="$out" bs=64K status=none)
      plain+=("${result%% *}"); plain_sys+=("$(cut -d' ' -f3 <<<"$result")")
      rm -f "$out"
      result=$(timed sh -c ": > '$out' && fallocate -n -l $bytes '$out' && dd if='$text' of='$out' bs=64K conv=notrunc status=none")
      aside+=("${result%% *}"); aside_sys+=("$(cut -d' ' -f3 <<<"$result")")
    done
    rm -f "$out"
    local a b
    a=$(median_of "${plain[*]}") b=$(median_of "${aside[*]}")
    printf '%-24s %10s %10s %10s %10s %7.2f\n' "$(stat -f -c %T "$dir")" "$a" \
      "$(median_of "${plain_sys[*]}")" "$b" "$(median_of "${aside_sys[*]}")" \
      "$(awk -v a="$a" -v b="$b" 'BEGIN { print a / b }')"
  done
  rm -f "$text"
}

case $mode in
  peers) shift || true; peers "$@" ;;
  scale) scale ;;
  threads) shift || true; threads "$@" ;;
  draft) python3 "$root/bench/draft_score.py" --check "$build/tabulon-check" --seeds "${2:-1001-1040}" ;;
  against) shift; against "$@" ;;
  instructions) shift || true; instructions "$@" ;;
  reserve) shift || true; reserve "$@" ;;
  *) echo "usage: bench/run.sh [peers [SIZE [ROUNDS [SHAPE...]]] | scale | threads [SIZE [ROUNDS [FILES]]] | draft [SEEDS] | against BINARY [SIZE [ROUNDS [SHAPE...]]] | instructions [SIZE [BINARY...]] | reserve [SIZE [ROUNDS [DIR...]]]]" >&2; exit 2 ;;
esac
