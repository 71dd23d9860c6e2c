#!/usr/bin/env bash
# Builds Veltrad and runs its main job against the simulated terminal:
# veltrad-sim plays a KV-9090 in download mode on a pseudo-terminal, COM1 is
# pointed at it through a settings file of this demo's own (never yours), and
# a sample image made on the spot is downloaded into it. With a display the
# Veltrad window opens; without one, veltrad-cli runs the same download.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build gui
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}  # for new build folders; old ones keep theirs
mkdir -p build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRAD_BUILD_GUI=ON -DVELTRAD_SANITIZE= > build/configure.log 2>&1 \
  || { cat build/configure.log; exit 1; }
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target veltrad-cli veltrad-sim Veltrad

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# 64 KiB of program after 256 zero bytes: the leading zero blocks are not sent.
image="$work/sample.bin"
{ head -c 256 /dev/zero; head -c 65536 /dev/urandom | tr '\000' '\001'; } > "$image"

# The terminal, at the real line's pace, so the progress is worth watching.
build/bin/veltrad-sim --link "$work/kv9090" --out "$work/received.bin" --pace > "$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/kv9090" ] && break; sleep 0.05; done
[ -e "$work/kv9090" ] || { echo "the simulated terminal did not start:"; cat "$work/sim.log"; exit 1; }

# COM1 -> the simulated terminal, in a settings folder of the demo's own.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
printf '[ComPort]\nPort Num=0\n\n[Ports]\nCOM1=%s\n' "$work/kv9090" > "$XDG_CONFIG_HOME/Veltrad.INI"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Simulated KV-9090 on COM1. In the Veltrad window: press 파일 열기, choose"
  echo "  $image"
  echo "then press 다 운 로 드 and watch the progress bar. Close the window when done."
  build/bin/Veltrad || true
  # A finished download has ended the simulator already; otherwise stop it.
  kill -TERM "$sim_pid" 2>/dev/null || true
else
  echo "No display here: running the same download with veltrad-cli."
  build/bin/veltrad-cli download --port COM1 "$image" || kill -TERM "$sim_pid" 2>/dev/null || true
fi
wait "$sim_pid" || true
sim_pid=
echo "terminal: $(tail -n 1 "$work/sim.log")"

# What the terminal received must be the sample's non-zero span, byte for byte.
if [ -s "$work/received.bin" ] && tail -c +257 "$image" | cmp -s - "$work/received.bin"; then
  echo "The terminal received the image intact."
else
  echo "The terminal did not receive the whole image." >&2
  exit 1
fi
