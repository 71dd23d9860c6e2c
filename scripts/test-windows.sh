#!/usr/bin/env bash
# The Windows build, proven on Linux: cross-compiles the core, Veltrad.exe,
# VeltradStation.exe, veltrad-cli.exe and the tests with MinGW-w64, packs the Windows zip, and
# runs the tests under Wine, the serial ones against veltrad-sim and a
# null-modem relay on pseudo-terminals (the Linux builds of both: the plain
# build's when there is one, as after scripts/test.sh's first stage, else
# build-win-sim's), the window's on a virtual display. Installs MinGW, Wine,
# Xvfb and xdotool when missing (as root). The Wine prefixes live in
# build-mingw/wineprefix and build-mingw/wineprefix-gui.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh mingw
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}  # for new build folders; old ones keep theirs

jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2
linux=build-win-sim
win=build-mingw
start=$SECONDS
step() { printf -- '--- %s (%d s)\n' "$*" $((SECONDS - start)); }

configure() {  # dir, cmake args...
  local dir=$1
  shift
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DVELTRAD_BUILD_GUI=OFF -DVELTRAD_BUILD_BENCH=OFF "$@" \
    >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; return 1; }
}

step "Linux tools the Wine tests talk to"
tools=(--target veltrad-sim veltrad-ptypair)
if [ -f build/CMakeCache.txt ] && cmake --build build -j "$jobs" "${tools[@]}" >build/win-tools.log 2>&1; then
  linux=build
else
  configure "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$linux" -j "$jobs" "${tools[@]}"
fi
echo "$linux/bin"

# The Wine prefixes need no build: both are set up while it runs.
export WINEPREFIX="$PWD/$win/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
export VELTRAD_WIN_BIN="$PWD/$win/bin" VELTRAD_LINUX_BIN="$PWD/$linux/bin"
mkdir -p "$win"
VELTRAD_E2E_DIR="$PWD/$win/wine-e2e" tests/windows/e2e.sh setup >"$win/wine-setup.log" 2>&1 &
e2e_setup=$!
VELTRAD_GUI_DIR="$PWD/$win/wine-gui" tests/windows/gui.sh setup >"$win/wine-gui-setup.log" 2>&1 &
gui_setup=$!

# Optimised as the other builds, without their debug information (CPack
# strips it from the packages anyway), one compiler run per target: half the
# compile time. Two files of one target therefore never define the same
# file-local name.
step "MinGW-w64 cross build"
configure "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVELTRAD_LINUX_TOOLS_DIR="$PWD/$linux/bin" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_UNITY_BUILD=ON
cmake --build "$win" -j "$jobs"

step "Windows zip and installer"
(cd "$win" && cpack -G "ZIP;NSIS" >cpack.log 2>&1) || { cat "$win/cpack.log"; exit 1; }
zip=$(ls "$win"/Veltrad-*-win64.zip)
listing=$(cmake -E tar tf "$zip")
for file in README.txt bin/Veltrad.exe bin/VeltradStation.exe bin/veltrad-cli.exe; do
  grep -q "/$file\$" <<<"$listing" || { echo "$zip lacks $file" >&2; exit 1; }
done
echo "$zip"
ls "$win"/Veltrad-*-win64.exe  # installed and removed under Wine by wine_gui_install

step "Wine prefixes and COM ports (slow only the first time)"
wait "$e2e_setup" || { cat "$win/wine-setup.log"; exit 1; }
wait "$gui_setup" || { cat "$win/wine-gui-setup.log"; exit 1; }
cat "$win/wine-setup.log" "$win/wine-gui-setup.log"
# The tests share one Wine server (tests/windows/wine-run.sh); end it with us.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# Start it and Wine's own services now, so that listing the first test
# program does not pay for them within its few seconds.
tests/windows/wine-run.sh cmd /c exit

step "tests under Wine"
ctest --test-dir "$win" --output-on-failure -j "$jobs"
step "done"
