#!/usr/bin/env bash
# Builds Brolt, starts the simulated service host on 127.0.0.1:8080 and opens the client on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Point files of jobs made under the login "library" go to a folder of the demo's own.
jobdir="$PWD/build-demo/library-jobs"
mkdir -p "$jobdir/jobs" "$jobdir/bad_lib"
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DBROLT_TESTS=OFF -DBROLT_BENCH=OFF \
  -DBROLT_JOB_FILES_DIR="$jobdir"
cmake --build build-demo -j"$(nproc)"
build-demo/simhost/brolt-simhost --port 8080 &
host_pid=$!
trap 'kill "$host_pid" 2>/dev/null || true' EXIT
sleep 0.5
build-demo/app/brolt "$@"
