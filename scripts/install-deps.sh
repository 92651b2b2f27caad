#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need (only those missing).
set -euo pipefail
packages=(
  cmake make g++ clang libclang-rt-14-dev dpkg-dev
  qt6-base-dev qt6-base-dev-tools qt6-httpserver-dev qt6-websockets-dev libgl-dev
  qt6-qpa-plugins fonts-dejavu-core fonts-dejavu-extra
  libbenchmark-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
