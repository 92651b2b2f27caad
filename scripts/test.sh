#!/usr/bin/env bash
# Checks that no large file is tracked, installs what is missing, then builds (warnings as errors)
# and runs every test: a normal build with an install check, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, and a bounded libFuzzer run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/check-sizes.sh
scripts/install-deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== normal build =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBROLT_WERROR=ON
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j4)
scripts/check-install.sh build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DBROLT_SANITIZE=address,undefined -DBROLT_BENCH=OFF -DBROLT_WERROR=ON
cmake --build build-asan -j"$jobs"
(cd build-asan &&
  ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j4)

echo "== fuzzing the reply parsers (bounded) =="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DBROLT_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBROLT_WERROR=ON
cmake --build build-fuzz -j"$jobs"
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
for f in build-fuzz/tests/fuzz/fuzz_*; do
  [ -f "$f" ] && [ -x "$f" ] || continue
  name=$(basename "$f")
  mkdir -p "$corpus/$name"
  seeds=()
  [ -d "tests/fuzz/corpus-${name#fuzz_}" ] && seeds=("tests/fuzz/corpus-${name#fuzz_}")
  # New inputs go to the temporary corpus only; the seeds in the tree stay as they are.
  "$f" -max_total_time="${BROLT_FUZZ_SECONDS:-30}" -max_len=8192 -print_final_stats=1 "$corpus/$name" "${seeds[@]}"
done
echo "All tests passed."
