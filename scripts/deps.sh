#!/usr/bin/env bash
# Installs the Debian 12 packages Veltrad needs, only those that are missing.
# Usage: scripts/deps.sh [build|gui|mingw|packaging|vm]...   (build is always included)
set -euo pipefail

packages=(cmake g++ make ninja-build pkgconf libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nettle-dev clang-format git)
for group in "$@"; do
  case "$group" in
    build) ;;
    # Qt's own texts in Korean (qtbase_ko.qm), which the windows load.
    gui) packages+=(qt6-base-dev libgl-dev fonts-noto-cjk qt6-translations-l10n) ;;
    # Only the "posix" thread flavour of MinGW: it has std::thread. The
    # window's tests: a virtual display, a keyboard driver, a Korean font,
    # and Wine's caption-button font. NSIS builds the installer.
    mingw) packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64 xvfb xdotool fonts-nanum fonts-wine nsis) ;;
    # The Debian package and its checks: manual pages, dpkg-shlibdeps (which
    # CPack runs with file), lintian, the desktop metadata's validator, man,
    # and bash-completion with python3 for the scripted interactive shell.
    packaging) packages+=(scdoc dpkg-dev file lintian appstream man-db bash-completion python3) ;;
    # The virtual bench: the emulator, and what builds its guest (the kernel
    # and busybox are downloaded as packages, never installed).
    vm) packages+=(qemu-system-x86 cpio xz-utils binutils) ;;
    *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them as root:  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
