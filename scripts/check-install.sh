#!/usr/bin/env bash
# Installs a build (default: build/) into a temporary prefix and starts both installed programs:
# the host on a free port must answer HTTP, the client must still be running after a few seconds.
set -euo pipefail
build=${1:-build}
prefix=$(mktemp -d)
host_pid=""
# The host is stopped and waited for before its folder goes; errexit holds in the trap too, so
# a host that has already ended must not stop the clean-up.
cleanup() {
  if [ -n "$host_pid" ]; then
    kill "$host_pid" 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
  fi
  rm -rf "$prefix"
}
trap cleanup EXIT
fail() { echo "install check: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for p in brolt brolt-simhost; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p was not installed"
done

"$prefix/bin/brolt-simhost" --port 0 >"$prefix/host.log" 2>&1 &
host_pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^brolt-simhost listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$prefix/host.log")
  [ -n "$port" ] && break
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || fail "installed brolt-simhost did not start: $(tr '\n' ' ' <"$prefix/host.log")"
exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "cannot connect to the installed brolt-simhost on port $port"
printf 'GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
status=""
read -r -t 10 status <&3 || true
exec 3<&-
[[ $status == HTTP/1.* ]] || fail "installed brolt-simhost did not answer on port $port"

rc=0
QT_QPA_PLATFORM=offscreen timeout -k 5 3 "$prefix/bin/brolt" >"$prefix/client.log" 2>&1 || rc=$?
[ "$rc" -eq 124 ] || fail "installed brolt ended early (exit $rc): $(tr '\n' ' ' <"$prefix/client.log")"
echo "install check: bin/brolt and bin/brolt-simhost installed and started"
