# Helpers shared by the Wine test scripts (e2e.sh, gui.sh); sourced, never run.
# The caller sets: dir (work folder), scenario (for messages),
# VELTRAD_LINUX_BIN (veltrad-sim, veltrad-ptypair).

fail() { echo "FAIL [$scenario]: $*" >&2; exit 1; }
note() { echo "[$scenario] $*"; }

# The Windows name of a Linux path (Wine's Z: drive is /).
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

# Processes to end when the script ends; a caller's own cleanup may add more.
children=()
end_children() {
  local pid
  for pid in "${children[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
}
trap end_children EXIT

# Starts veltrad-sim on a new pty linked at $dir/$1; the rest are its options.
# What it receives goes to $sim_out (default $dir/received.bin).
# It answers at a real line's pace: a Windows COM port is taken for a real
# line, where a reply sooner than a frame's line time is a stray byte.
sim_fd=
sim_pid=
start_sim() {
  local link=$dir/$1 out=${sim_out:-$dir/received.bin}
  shift
  rm -f "$out"
  exec {sim_fd}< <(exec "$VELTRAD_LINUX_BIN/veltrad-sim" --pace --link "$link" --out "$out" "$@" 2>&1)
  sim_pid=$!
  children+=("$sim_pid")
  local first
  read -r -t 20 -u "$sim_fd" first || fail "veltrad-sim did not start"
  case $first in
    "veltrad-sim: terminal on "*) ;;
    *) fail "veltrad-sim: $first" ;;
  esac
}

# Lets the simulator end by itself within $1 s (0: stop it at once), then
# stops it; sets sim_rc and sim_summary (its last line).
finish_sim() {
  local before= after= rc=1
  set +e
  if [ "$1" -gt 0 ]; then
    before=$(timeout "$1" cat <&"$sim_fd")
    rc=$?
  fi
  if [ "$rc" -ne 0 ]; then
    kill -TERM "$sim_pid" 2>/dev/null
    after=$(timeout 30 cat <&"$sim_fd") || fail "veltrad-sim did not end"
  fi
  wait "$sim_pid"
  sim_rc=$?
  set -e
  exec {sim_fd}<&-
  sim_summary=$(printf '%s\n%s\n' "$before" "$after" | sed '/^$/d' | tail -n 1)
  note "sim: $sim_summary (exit $sim_rc)"
}

# A null-modem relay between two new ptys linked at $dir/pair-a and $dir/pair-b.
relay_pid=
start_relay() {
  local ready
  exec {relay_fd}< <(exec "$VELTRAD_LINUX_BIN/veltrad-ptypair" "$dir/pair-a" "$dir/pair-b" 2>&1)
  relay_pid=$!
  children+=("$relay_pid")
  read -r -t 20 -u "$relay_fd" ready || fail "veltrad-ptypair did not start"
  [ "$ready" = ready ] || fail "veltrad-ptypair: $ready"
}

# A file with zero blocks around its non-zero span; the span's expected
# image goes to $2: the span's blocks, a short last one completed with zeros.
make_image() {  # file expected leading-zero-bytes span-bytes trailing-zero-bytes
  local file=$1 expected=$2 lead=$3 span=$4 trail=$5
  {
    printf '\x5a'
    head -c $((span - 2)) /dev/urandom
    printf '\xa5'
  } >"$expected"
  { head -c "$lead" /dev/zero; cat "$expected"; head -c "$trail" /dev/zero; } >"$file"
  local pad=$(((128 - span % 128) % 128))
  head -c "$pad" /dev/zero >>"$expected"
}
