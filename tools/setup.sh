#!/usr/bin/env bash
# Installs the Debian packages Kavo needs, only those missing. Run as root (or with sudo
# available).
#   tools/setup.sh demo   what tools/demo.sh uses: a compiler, CMake, Ninja and zlib to build
#                         kavo-cli, and sfdisk, mkfs.fat and mtools to make the sample image
#   tools/setup.sh        those and everything the tests, the Windows builds and the benchmarks use
set -euo pipefail
set_name=${1:-all}
case "$set_name" in
  demo | all) ;;
  *) echo "usage: setup.sh [demo|all]" >&2; exit 2 ;;
esac

demo_packages=(g++ cmake ninja-build zlib1g-dev dosfstools mtools fdisk)

test_packages=(
  make pkg-config ccache
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev wine64
  gdisk ntfs-3g exfatprogs exfat-fuse fuse3 libfuse3-dev sleuthkit
  # disk-image containers written by the real tools
  qemu-utils ewf-tools
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

packages=("${demo_packages[@]}")
[ "$set_name" = demo ] || packages+=("${test_packages[@]}")

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
