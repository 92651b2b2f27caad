#!/usr/bin/env bash
# Builds Brolt, starts the simulated service host on 127.0.0.1:$BROLT_DEMO_PORT (default 8080) and,
# once the host listens there, opens the client on it.
set -euo pipefail
cd "$(dirname "$0")/.."
port=${BROLT_DEMO_PORT:-8080}
if ! [[ $port =~ ^[1-9][0-9]{0,4}$ ]] || [ "$port" -gt 65535 ]; then
  echo "demo: BROLT_DEMO_PORT must be a port number from 1 to 65535, not \"$port\"" >&2
  exit 2
fi
scripts/install-deps.sh
# Point files of jobs made under the login "library" go to a folder of the demo's own.
jobdir="$PWD/build-demo/library-jobs"
mkdir -p "$jobdir/jobs" "$jobdir/bad_lib"
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DBROLT_TESTS=OFF -DBROLT_BENCH=OFF \
  -DBROLT_JOB_FILES_DIR="$jobdir" -DBROLT_DEFAULT_HOST="127.0.0.1:$port"
cmake --build build-demo -j"$(nproc)"
log=build-demo/simhost.log
build-demo/simhost/brolt-simhost --port "$port" >"$log" 2>&1 &
host_pid=$!
trap 'kill "$host_pid" 2>/dev/null || true' EXIT
# The client opens only on a port the host has bound.
for _ in $(seq 100); do
  grep -qxF "brolt-simhost listening on 127.0.0.1:$port" "$log" && break
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -qxF "brolt-simhost listening on 127.0.0.1:$port" "$log"; then
  echo "demo: the simulated host could not listen on 127.0.0.1:$port (see $log); set BROLT_DEMO_PORT to a free port" >&2
  exit 1
fi
build-demo/app/brolt "$@"
