#!/usr/bin/env bash
# Installs from Debian's packages whatever the build and the tests need and is missing.
set -euo pipefail
packages=(build-essential cmake g++ libgtest-dev libgmock-dev libbenchmark-dev
          freetds-dev freetds-bin freetds-doc clang-format util-linux
          clang libclang-rt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
