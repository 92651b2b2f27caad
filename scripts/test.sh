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
# A 64 KiB list reply whose lines hold markers: a parse that reads a line into more than one
# record grows much faster than its input and runs into the memory limits below.
mkdir -p "$corpus/seeds"
printf 'x$x#x^x\n%.0s' $(seq 8192) > "$corpus/seeds/markers-in-lines"
# A schedule of more lines than its table takes: the rows stay within their bound.
printf '1\n%.0s' $(seq 12000) > "$corpus/seeds/schedule-flood"
# Host markup nested to its bounds and far past them: tables, then other elements, then text.
for depth in 6 40; do
  { printf '<table><tr><td>%.0s' $(seq $depth); printf '<div><b>%.0s' $(seq $depth); printf 'x%.0s' $(seq $((depth * 200))); } \
    > "$corpus/seeds/markup-nested-$depth"
done
# A progressive JPEG with comment and metadata segments before its frame and between its scans.
z() { printf "$1%.0s" $(seq "$2"); }
{ printf '\xff\xd8\xff\xfe\x00\x06seed\xff\xe1\x00\x08Exif\x00\x00\xff\xe2\x00\x10ICC_PROFILE\x00\x01\x01\xff\xdb\x00\x43\x00'
  z '\x01' 64; printf '\xff\xc2\x00\x11\x08\x00\x08\x00\x08\x03\x01\x22\x00\x02\x11\x00\x03\x11\x00'
  for t in '\x00' '\x10'; do printf "\xff\xc4\x00\x14$t\x01"; z '\x00' 16; done
  printf '\xff\xda\x00\x0c\x03\x01\x00\x02\x00\x03\x00\x00\x00\x00\x03\xff\xfe\x00\x09between\xff\xda\x00\x08\x01\x01\x00\x01\x3f\x00\x7f\xff\xd9'
} > "$corpus/seeds/jpeg-with-comments"
fuzzed=0
for f in build-fuzz/tests/fuzz/fuzz_*; do
  [ -f "$f" ] && [ -x "$f" ] || continue
  fuzzed=$((fuzzed + 1))
  name=$(basename "$f")
  mkdir -p "$corpus/$name"
  seeds=("$corpus/seeds")
  [ -d "tests/fuzz/corpus-${name#fuzz_}" ] && seeds+=("tests/fuzz/corpus-${name#fuzz_}")
  # New inputs go to the temporary corpus only; the seeds in the tree stay as they are. Inputs
  # up to 64 KiB; ASan's quarantine of freed blocks is off, so that the RSS limit measures the
  # parsers.
  ASAN_OPTIONS=quarantine_size_mb=0:thread_local_quarantine_size_kb=0 \
    "$f" -max_total_time="${BROLT_FUZZ_SECONDS:-30}" -max_len=65536 -rss_limit_mb=512 -malloc_limit_mb=64 \
    -timeout=20 -print_final_stats=1 "$corpus/$name" "${seeds[@]}"
done
[ "$fuzzed" -gt 0 ] || { echo "no fuzz target was built in build-fuzz/tests/fuzz" >&2; exit 1; }
echo "All tests passed."
