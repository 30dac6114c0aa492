#!/usr/bin/env bash
# Installs the Debian packages that building and testing Brevo need, when missing.
# Extra package names given as arguments are ensured too.
set -euo pipefail
packages=(g++ make cmake pkg-config liblapack-dev libblas-dev libfftw3-dev libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev parallel python3 chromium libjs-dygraphs
          openssh-server openssh-client rsync
          pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib python3-scikit-rf
          python3-xlrd python3-openpyxl "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
