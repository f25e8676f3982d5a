#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and benchmarks with.
# Idempotent: packages already present are left alone, and apt is not touched then.
set -euo pipefail

packages=(
  # build (ccache only speeds up rebuilds; nothing depends on it)
  g++ clang libclang-rt-14-dev cmake ninja-build pkg-config ccache
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # libraries
  zlib1g-dev libjpeg-dev libfltk1.3-dev
  # the ZIP methods beyond Deflate, and WinZip AES
  libbz2-dev liblzma-dev libzstd-dev libssl-dev
  # peers measured against
  libdeflate-dev libisal-dev unzip zip 7zip libarchive-tools hyperfine
  # trying the window and the terminal front end as a user would
  xvfb xdotool x11-utils imagemagick tmux attr strace
  # opening the client folder and the readme on a desktop
  xdg-utils
  # a window manager, to see the dialog's title bar and borders as users do
  openbox
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
