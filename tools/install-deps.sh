#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, test and run Film Finder.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev
  curl libcurl4-openssl-dev libpng-dev libjpeg-dev libgif-dev libpcre2-dev libcpp-httplib-dev
  libidn2-dev libglib2.0-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk
  libxcb1-dev imagemagick libjpeg-turbo-progs
  desktop-file-utils appstream dpkg-dev binutils
  clang libclang-rt-14-dev clang-format   # the fuzz harnesses, the format check
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
$sudo_cmd apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
