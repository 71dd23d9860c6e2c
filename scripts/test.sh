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
# New build folders are Ninja ones (less overhead than make's); a folder
# made earlier keeps its generator.
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}
# Test runs must never touch the user's real settings file.
export XDG_CONFIG_HOME="$PWD/build/test-config"
mkdir -p "$XDG_CONFIG_HOME"

# The later stages' packages are installed, and the virtual bench's kernel
# and busybox downloaded and unpacked, while the builds run: mostly waiting
# on the network and the disk.
if [ "$quick" = 0 ]; then
  { scripts/deps.sh mingw vm packaging && scripts/test-vm.sh --prepare; } > build/later-stages.log 2>&1 &
  later_stages=$!
fi

configure() {  # dir, cmake args...
  local dir=$1
  shift
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRAD_BUILD_GUI=ON "$@" > "$dir/configure.log" 2>&1 \
    || { cat "$dir/configure.log"; return 1; }
}

# The test names in a tree (without the parameter that gtest prints, which
# may show an address), and the programs that the plain tree's tests run
# (their targets bear their names), of one label or of all.
test_names() {  # dir [label]
  ctest --test-dir "$1" -N ${2:+-L "$2"} | sed -n 's/  # GetParam() = .*//; s/^ *Test *#[0-9]*: //p' | sort
}
test_programs() {  # [label]
  ctest --test-dir build -N -V ${1:+-L "$1"} | awk -v bin="$PWD/build/bin/" '
    { at = index($0, "Test command: " bin) }
    at { cmd = substr($0, at + length("Test command: " bin)); sub(/[ "].*/, "", cmd); print cmd }' | sort -u
}

# A sanitizer build with line tables only (-g1), which is what the reports
# need for file and line. ASan+UBSan unoptimised (-O0): its tests take no
# longer, and it compiles in three fifths of -O1's time; TSan at -O1, as it
# advises, for the threads' pace. One compiler run per target (a unity
# build, as the Windows stage's): the command-line tool's four files each
# compiled CLI11 whole. Only the test programs of the label and what they
# start (their targets depend on it), not the windows, the screenshot tools
# or the benchmarks.
sanitizer_stage() {  # dir, label ('' for every test), optimisation, cmake args...
  local dir=$1 label=$2 optimisation=$3 programs
  shift 3
  configure "$dir" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$optimisation -g1 -DNDEBUG" -DCMAKE_UNITY_BUILD=ON \
    -DVELTRAD_BUILD_BENCH=OFF "$@"
  mapfile -t programs < <(test_programs "$label")
  [ ${#programs[@]} -gt 0 ] || { echo "test.sh: the plain build lists no test programs${label:+ labelled $label}" >&2; return 1; }
  cmake --build "$dir" -j "$jobs" --target "${programs[@]}"
  # A test whose program was not built has no labels yet: a label's tests
  # must be those of the plain build.
  if [ -n "$label" ] && ! diff <(test_names build "$label") <(test_names "$dir" "$label") > "$dir/tests.diff"; then
    echo "test.sh: $dir lists other tests labelled $label than build/ (< build/, > $dir):" >&2
    cat "$dir/tests.diff" >&2
    return 1
  fi
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" ${label:+-L "$label"}
}

stage "build and test"
configure build -DVELTRAD_SANITIZE=
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
if [ "$quick" = 1 ]; then
  echo
  echo "Quick run passed (plain build only; the full command runs every stage)."
  exit 0
fi

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  sanitizer_stage build-asan "" -O0 -DVELTRAD_SANITIZE=address,undefined

stage "ThreadSanitizer (tests that run threads)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  sanitizer_stage build-tsan threads -O1 -DVELTRAD_SANITIZE=thread

wait "$later_stages" || { cat build/later-stages.log; exit 1; }

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
