#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the tools, the
# benchmarks and the packaging (cpack's DEB, pip) need; packages already
# present are skipped.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev libboost-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libgdal-dev gdal-bin pybind11-dev python3-dev python3-numpy python3-matplotlib
  python3-pytest python3-distributed libfftw3-dev libcli11-dev
  dpkg-dev python3-venv python3-setuptools python3-wheel python3-gdal
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all packages present"
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
