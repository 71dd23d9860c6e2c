#!/usr/bin/env bash
# End-to-end checks of the Windows build under Wine, over pseudo-terminals
# held by Linux programs: veltrad-sim plays the terminal, veltrad-ptypair
# joins two COM ports like a null-modem cable.
#
#   e2e.sh setup | port-tests | download-com10 | download-com3 | refused |
#          silent | silent-after-ack | missing-port | stop | unplugged | unicode
#
# Environment (CTest sets it): VELTRAD_WIN_BIN (the .exe folder),
# VELTRAD_LINUX_BIN (veltrad-sim, veltrad-ptypair), VELTRAD_E2E_DIR (work
# folder, inside the MinGW build folder). WINEPREFIX defaults to the build
# folder's own prefix.
#
# COM ports in the Wine prefix (HKLM\Software\Wine\Ports):
#   COM3, COM10  -> the simulator's pty (short and device-namespace names)
#   COM11, COM12 -> the two ends of the relay; COM4 -> the same line as COM11
#   COM8, COM49  stay unmapped: the tests open them as ports that do not exist
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
: "${VELTRAD_WIN_BIN:?}" "${VELTRAD_LINUX_BIN:?}" "${VELTRAD_E2E_DIR:?}"
dir=$VELTRAD_E2E_DIR
mkdir -p "$dir"
export WINEPREFIX="${WINEPREFIX:-$(dirname "$dir")/wineprefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine_run="$here/wine-run.sh"
scenario=${1:?scenario}

# shellcheck source=tests/windows/lib.sh
. "$here/lib.sh"

# ---------------------------------------------------------------------------

setup() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    note "creating Wine prefix $WINEPREFIX (one-time, slow)"
    "$wine_run" wineboot --init >/dev/null 2>&1 || fail "wineboot --init failed"
  fi
  local map="COM3=$dir/com3
COM4=$dir/pair-a
COM10=$dir/com10
COM11=$dir/pair-a
COM12=$dir/pair-b"
  local stamp="$WINEPREFIX/veltrad-ports" state="$map
unmapped COM8 COM49"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$state" ]; then
    note "COM ports already mapped"
    return 0
  fi
  local line
  while IFS= read -r line; do
    "$wine_run" reg add 'HKLM\Software\Wine\Ports' /v "${line%%=*}" /t REG_SZ /d "${line#*=}" /f >/dev/null 2>&1 \
      || fail "reg add ${line%%=*}"
  done <<<"$map"
  # Earlier set-ups may have left these; an empty value is no cure, Wine
  # then opens the port and fails only at its first serial call.
  for port in COM8 COM49; do
    "$wine_run" reg delete 'HKLM\Software\Wine\Ports' /v "$port" /f >/dev/null 2>&1 || true
  done
  # The port links are made from the registry when Wine starts.
  wineserver -k 2>/dev/null || true
  wineserver -w
  "$wine_run" cmd /c exit >/dev/null 2>&1 || true
  for port in com3 com4 com10 com11 com12; do
    [ -L "$WINEPREFIX/dosdevices/$port" ] || fail "Wine did not map $port"
  done
  for port in com8 com49; do
    [ ! -e "$WINEPREFIX/dosdevices/$port" ] || fail "Wine maps $port, which the tests need unmapped"
  done
  printf '%s' "$state" >"$stamp"
  note "COM ports mapped"
}

# Runs veltrad-cli download; sets cli_rc and cli_out (its JSON line).
cli_download() {  # port file [more arguments]
  local start=$SECONDS port=$1 file=$2
  shift 2
  set +e
  cli_out=$(timeout 120 "$wine_run" "$VELTRAD_WIN_BIN/veltrad-cli.exe" download --json --port "$port" "$@" \
    "$(winpath "$file")" 2>"$dir/cli.err")
  cli_rc=$?
  set -e
  note "cli --port $port: exit $cli_rc in $((SECONDS - start)) s: $cli_out"
}

expect_outcome() {  # exit-status outcome
  [ "$cli_rc" -eq "$1" ] || { cat "$dir/cli.err" >&2; fail "veltrad-cli exit $cli_rc, expected $1"; }
  case $cli_out in
    *"\"outcome\":\"$2\""*) ;;
    *) fail "veltrad-cli outcome: $cli_out, expected $2" ;;
  esac
}

download() {  # port link lead span trail expected-summary
  local port=$1 link=$2
  make_image "$dir/image.bin" "$dir/expected.bin" "$3" "$4" "$5"
  # At a real line's timing: replies earlier than the frame's line time are strays.
  start_sim "$link" --pace
  cli_download "$port" "$dir/image.bin"
  expect_outcome 0 completed
  finish_sim 5
  [ "$sim_rc" -eq 0 ] || fail "veltrad-sim exit $sim_rc (closing bytes lost?)"
  [ "$sim_summary" = "$6" ] || fail "sim summary '$sim_summary', expected '$6'"
  cmp "$dir/received.bin" "$dir/expected.bin" || fail "received image differs from the file's non-zero span"
}

# ---------------------------------------------------------------------------

case $scenario in
  setup)
    setup
    ;;
  port-tests)
    start_relay
    VELTRAD_TEST_PORT=11 VELTRAD_TEST_PEER_PORT=12 VELTRAD_TEST_SHORT_PORT=4 \
      timeout 150 "$wine_run" "$VELTRAD_WIN_BIN/windows_port_test.exe" || fail "windows_port_test"
    ;;
  download-com10)
    # 3 zero blocks, 50 blocks of data, 2 zero blocks: frames 3 to 52.
    download COM10 com10 384 6400 256 "frames 50, refusals 0, bytes 6400, base 0x00000180"
    ;;
  download-com3)
    # The short name form; a short last block, completed with zeros.
    download COM3 com3 256 1000 0 "frames 8, refusals 0, bytes 1024, base 0x00000100"
    ;;
  refused)
    make_image "$dir/image.bin" "$dir/expected.bin" 0 1280 0
    start_sim com10 --refuse 2 --times 5
    cli_download COM10 "$dir/image.bin"
    expect_outcome 5 refused
    finish_sim 0
    [ "$sim_summary" = "interrupted: frames 2, refusals 5, bytes 256, base 0x00000000" ] \
      || fail "sim summary '$sim_summary'"
    ;;
  silent)
    # Nobody at the other end of the relay: not a byte comes back.
    make_image "$dir/image.bin" "$dir/expected.bin" 0 640 0
    start_relay
    cli_download COM11 "$dir/image.bin"
    expect_outcome 3 timed-out
    ;;
  silent-after-ack)
    make_image "$dir/image.bin" "$dir/expected.bin" 0 1280 0
    start_sim com10 --silent-after 2
    cli_download COM10 "$dir/image.bin"
    expect_outcome 4 timed-out-after-ack
    case $cli_out in *'"acknowledged":3'*) ;; *) fail "expected 3 acknowledged frames" ;; esac
    finish_sim 0
    ;;
  missing-port)
    make_image "$dir/image.bin" "$dir/expected.bin" 0 640 0
    cli_download COM49 "$dir/image.bin"
    expect_outcome 2 port-open-failed
    grep -q "COM49: no such device" "$dir/cli.err" \
      || { cat "$dir/cli.err" >&2; fail "no operator-readable reason on stderr"; }
    ;;
  stop)
    # Frame 0 is accepted, then XOFF holds the line for 60 s: the stop falls
    # into a pending overlapped write of frame 1.
    start_sim com10 --xoff-before 1 --xoff-ms 60000
    VELTRAD_TEST_SIM_PORT=10 timeout 150 "$wine_run" "$VELTRAD_WIN_BIN/windows_session_test.exe" \
      || fail "windows_session_test"
    finish_sim 0
    case $sim_summary in
      "interrupted: frames 1, refusals 0,"*) ;;
      *) fail "sim summary '$sim_summary', expected one accepted frame" ;;
    esac
    ;;
  unplugged)
    # Nobody answers on the relay; once frame 0 has crossed it, the relay
    # ends, which hangs up the port under the run like a pulled adapter.
    make_image "$dir/image.bin" "$dir/expected.bin" 0 640 0
    start_relay
    (
      set +e
      timeout 120 "$wine_run" "$VELTRAD_WIN_BIN/veltrad-cli.exe" download --json --port COM11 \
        "$(winpath "$dir/image.bin")" >"$dir/cli.out" 2>"$dir/cli.err"
      echo $? >"$dir/cli.rc"
    ) &
    cli_job=$!
    timeout 60 head -c 135 "$dir/pair-b" >/dev/null || fail "frame 0 never crossed the relay"
    unplugged_at=$(date +%s%N)
    kill -TERM "$relay_pid"
    wait "$cli_job"
    took_ms=$((($(date +%s%N) - unplugged_at) / 1000000))
    cli_rc=$(cat "$dir/cli.rc")
    cli_out=$(cat "$dir/cli.out")
    note "veltrad-cli ended $took_ms ms after the unplugging: $cli_out"
    expect_outcome 3 timed-out
    case $cli_out in *'"port_gone":true'*) ;; *) fail "expected port_gone" ;; esac
    # Far below the 5 s a silent terminal takes; Wine's process exit included.
    [ "$took_ms" -lt 3000 ] || fail "the run waited out the timeout"
    ;;
  unicode)
    # Korean names for the image and the log, on a machine whose code page
    # has no Hangul (Wine takes 1252 from this locale): the arguments, the
    # files and the messages keep them.
    export LC_ALL=C.UTF-8
    image="$dir/펌웨어 이미지.bin"
    log="$dir/기록 로그.tsv"
    rm -f "$log"
    make_image "$image" "$dir/expected.bin" 0 1280 0
    start_sim com10 --pace
    cli_download COM10 "$image" --log "$(winpath "$log")"
    expect_outcome 0 completed
    finish_sim 5
    [ -f "$log" ] || fail "no log under its Korean name: $(ls "$dir")"
    grep -qF "$(winpath "$image")" "$log" || fail "the log does not name the image: $(cat "$log")"
    cmp "$dir/received.bin" "$dir/expected.bin" || fail "received image differs from the file's non-zero span"
    # Redirected, a message is UTF-8 and names the file as given.
    cli_download COM10 "$dir/없는 이미지.bin"
    expect_outcome 1 file-error
    grep -qF "$(winpath "$dir/없는 이미지.bin")" "$dir/cli.err" || fail "the message garbles the name: $(cat "$dir/cli.err")"
    ;;
  *)
    fail "unknown scenario"
    ;;
esac
note "passed"
