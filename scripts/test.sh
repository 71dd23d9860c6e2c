#!/usr/bin/env bash
# Builds Veltrad and runs every test: a plain build, an AddressSanitizer +
# UBSan build, a ThreadSanitizer build of the tests that run threads, the
# Windows build under Wine, the virtual bench (the real serial drivers under
# QEMU), and the Debian package with its checks. Installs what is missing
# first (as root).
#
#   scripts/test.sh           every stage: what CI runs
#   scripts/test.sh --quick   the plain build and its tests only, for a change in progress
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

# Each stage's wall time and its processes' CPU time (user + system), shown
# at the end: what CI spends where. `times` works only in this shell, not in
# a command substitution.
timings=()
stage_name="" stage_t0=0 stage_cpu0=0 cpu=0
times_file=$(mktemp)
cpu_now() {  # sets cpu: user + system of this shell's finished children, whole seconds
  times > "$times_file"
  cpu=$(awk 'NR == 2 { s = 0; for (i = 1; i <= 2; i++) { split($i, a, /[ms]/); s += a[1] * 60 + a[2] } printf "%d", s }' "$times_file")
}
stage_end() {
  [ -n "$stage_name" ] || return 0
  cpu_now
  timings+=("$(printf '%5d s wall %5d s cpu  %s' $((SECONDS - stage_t0)) $((cpu - stage_cpu0)) "$stage_name")")
  stage_name=""
}
stage() {
  stage_end
  stage_name=$*
  stage_t0=$SECONDS
  cpu_now
  stage_cpu0=$cpu
  printf '\n=== %s ===\n' "$*"
}
show_timings() {
  stage_end
  rm -f "$times_file"
  echo
  printf '%s\n' "${timings[@]}"
  printf '%5d s wall in all\n' "$SECONDS"
}
trap show_timings EXIT

stage "packages"
scripts/deps.sh build gui

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen
# Test runs must never touch the user's real settings file.
export XDG_CONFIG_HOME="$PWD/build/test-config"
mkdir -p "$XDG_CONFIG_HOME"

build_and_test() {  # dir, ctest args, cmake args...
  local dir=$1 ctest_args=$2; shift 2
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRAD_BUILD_GUI=ON "$@" > "$dir/configure.log" 2>&1 \
    || { cat "$dir/configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs"
  # shellcheck disable=SC2086
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" $ctest_args
}

mkdir -p build
stage "build and test"
build_and_test build "" -DVELTRAD_SANITIZE=
if [ "$quick" = 1 ]; then
  echo
  echo "Quick run passed (plain build only; the full command runs every stage)."
  exit 0
fi

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  build_and_test build-asan "" -DVELTRAD_SANITIZE=address,undefined -DVELTRAD_BUILD_BENCH=OFF

stage "ThreadSanitizer (tests that run threads)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  build_and_test build-tsan "-L threads" -DVELTRAD_SANITIZE=thread -DVELTRAD_BUILD_BENCH=OFF

if [ -x scripts/test-windows.sh ]; then
  stage "Windows build under Wine"
  scripts/test-windows.sh
fi

stage "Virtual bench: real serial drivers in Debian's kernel under QEMU"
scripts/test-vm.sh

stage "Debian package: lintian, desktop metadata, manual pages, Tab completion"
scripts/test-packaging.sh
echo
echo "All test stages passed."
