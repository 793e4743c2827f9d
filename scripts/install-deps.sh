#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and run the program.
set -euo pipefail
packages=(qt6-base-dev qt6-tools-dev qt6-l10n-tools qt6-tools-dev-tools libfftw3-dev libtiff-dev zlib1g-dev libhdf5-dev
          cmake ninja-build g++ pkg-config
          # the spectrum view's plots
          qt6-charts-dev
          # result files read back in the tests
          python3-numpy python3-tifffile python3-h5py
          # Qt's own texts (dialogs, standard buttons) in Japanese mode
          qt6-translations-l10n
          # Japanese glyphs, so the Japanese window is drawn (and its fit checked) as users see it
          fonts-ipafont-gothic
          # the cluster test: a single-node SLURM with MUNGE
          slurm-wlm munge
          # the fuzz targets: clang's -fsanitize=fuzzer needs the compiler-rt archives
          clang libclang-rt-14-dev libfuzzer-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
