#!/usr/bin/env bash
# Builds the fuzz harnesses (clang, libFuzzer, address/undefined/float-cast
# sanitizers) in build-fuzz/ and runs each for SECONDS seconds, one after the
# other, starting from its seed corpus in fuzz/<name>/corpus. New inputs go to
# build-fuzz/corpus/<name>; a crash, hang or sanitizer report leaves its input
# in build-fuzz/findings/<name>/ and makes the script fail.
#   scripts/fuzz.sh SECONDS [HARNESS ...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD  # the harnesses work in scratch folders of their own: absolute paths

seconds=${1:?usage: scripts/fuzz.sh SECONDS [HARNESS ...]}
shift
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for dir in fuzz/*/corpus; do harnesses+=("$(basename "$(dirname "$dir")")"); done
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPDPCELL_FUZZ=ON \
  -DPDPCELL_TESTS=OFF >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=("${h}_fuzz"); done
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}" >/dev/null

status=0
for h in "${harnesses[@]}"; do
  mkdir -p "build-fuzz/corpus/$h" "build-fuzz/findings/$h"
  echo "fuzzing $h for $seconds s"
  # -close_fd_mask=1: the readers print their messages on standard output.
  if ! ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
      "$root/build-fuzz/fuzz/${h}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$root/build-fuzz/findings/$h/" \
      "$root/build-fuzz/corpus/$h" "$root/fuzz/$h/corpus" 2>"build-fuzz/findings/$h/log.txt"; then
    echo "finding in $h: see build-fuzz/findings/$h/"
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::new_units_added" "build-fuzz/findings/$h/log.txt" || true
done
exit $status
