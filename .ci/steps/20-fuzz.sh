#!/usr/bin/env bash
# Fuzz smoke run: builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a short while on its seed
# corpus. Any crash, sanitizer report or broken property fails the step; the
# input that did it is left in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/packages.sh

seconds=${FUZZ_SECONDS:-20}

need clang++:clang
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
  missing+=(libclang-rt-14-dev)
install_missing

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"

for target in parameter_file line_reader convert blocks copybook schema draft; do
  echo "-- fuzz_${target}: ${seconds} s"
  mkdir -p "$work/$target"
  # New inputs go to the scratch directory; the committed seeds stay as they are.
  build/fuzz/fuzz/fuzz_${target} -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/${target}-" \
    "$work/$target" "fuzz/corpus/$target" 2>"$work/$target.log" || {
    tail -n 60 "$work/$target.log"
    echo "fuzz_${target} failed; the input is in $artifacts/"
    exit 1
  }
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)' "$work/$target.log" || true
done
echo "fuzz smoke run passed"
