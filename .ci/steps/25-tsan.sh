#!/usr/bin/env bash
# The threaded conversion under ThreadSanitizer: the unit tests that run the
# blocks on several threads, and the comparison of runs on every CPU with
# runs held to one (cmake --workflow --preset tsan).
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/packages.sh

# The runtime comes with GCC's own libraries; util-linux gives taskset and
# prlimit to the comparison script.
need \
  taskset:util-linux \
  prlimit:util-linux
if ! echo 'int main() {}' | g++ -fsanitize=thread -x c++ - -o /tmp/tabulon-tsan-probe 2>/dev/null; then
  missing+=("libtsan2")
fi
rm -f /tmp/tabulon-tsan-probe
install_missing

cmake --workflow --preset tsan
