#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kavo need, only those missing.
# Run as root (or with sudo available).
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config ccache
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64
  dosfstools mtools fdisk gdisk ntfs-3g exfatprogs exfat-fuse fuse3 sleuthkit
  imagemagick testdisk clang libclang-rt-14-dev dmsetup
  # real files for the scanners' tests
  ffmpeg lame vorbis-tools opus-tools sox abcmidi zip unzip fastjar openjdk-17-jdk-headless
  p7zip-full gcab fp-utils
  ghostscript qpdf libimage-exiftool-perl libtiff-tools
  libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
  # oracles for drive listing and health, and the peers of the benchmarks
  smartmontools nvme-cli util-linux foremost scalpel gddrescue
  # screenshots of the Windows programs
  xvfb xdotool
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
    "${missing[@]}"
fi
