#!/usr/bin/env bash
# The virtual bench: veltrad-cli on real Linux serial drivers, in Debian's own
# kernel booted under QEMU. ftdi_sio drives QEMU's FT232 and 8250 a second
# 16550, each on a host pty where the host's veltrad-sim plays the terminal;
# cdc_acm drives a USB gadget serial port (dummy_hcd, g_serial) whose other
# end, /dev/ttyGS0, has the guest's veltrad-sim. The guest runs the scenario
# the host names on its console and reports; the host compares images, reads
# the JSON lines and the timings, and decides.
#
#   scripts/test-vm.sh                  every scenario (a stage of scripts/test.sh)
#   scripts/test-vm.sh acm uart ...     the scenarios of these drivers only (ft, uart, acm, all)
#   scripts/test-vm.sh --prepare        only the guest's kernel and busybox (downloaded and
#                                       unpacked) and the KVM probe: scripts/test.sh runs it while
#                                       it builds
#
# The kernel and busybox packages are downloaded once and kept, unpacked, in
# build/vm; nothing is installed on the host but the vm group of deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

prepare=0
if [ "${1:-}" = --prepare ]; then
  prepare=1
  shift
fi
groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(ft uart acm all)
for group in "${groups[@]}"; do
  case $group in ft | uart | acm | all) ;; *) echo "usage: scripts/test-vm.sh [ft|uart|acm|all]..." >&2; exit 2 ;; esac
done

scripts/deps.sh build vm
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}  # for new build folders; old ones keep theirs

vm=$PWD/build/vm
bin=$PWD/build/bin
guest_src=$PWD/tests/vm/guest
ft_serial=VB000001 # the FT232's USB serial number
mkdir -p "$vm/debs"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
stage_t0=$(now_ms)

# --- the guest's kernel and busybox --------------------------------------

# The kernel package that linux-image-amd64 names now.
kernel_package() { apt-cache depends linux-image-amd64 2> /dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1; }
fetch() {  # package: its .deb in $vm/debs, downloaded unless already there
  local deb
  deb=$(ls "$vm/debs/$1"_*.deb 2> /dev/null | head -n 1 || true)
  if [ -z "$deb" ]; then
    (cd "$vm/debs" && apt-get download -q -o APT::Sandbox::User=root "$1" > /dev/null 2>&1) \
      || { apt-get update -qq && (cd "$vm/debs" && apt-get download -q -o APT::Sandbox::User=root "$1" > /dev/null); }
    deb=$(ls "$vm/debs/$1"_*.deb | head -n 1)
  fi
  echo "$deb"
}

kpkg=$(kernel_package)
if [ -z "$kpkg" ]; then
  apt-get update -qq
  kpkg=$(kernel_package)
fi
[ -n "$kpkg" ] || { echo "test-vm: apt knows no linux-image-amd64" >&2; exit 1; }
kver=${kpkg#linux-image-}
kdir=$vm/$kpkg
bbdir=$vm/busybox-static
if [ ! -f "$kdir/lib/modules/$kver/modules.dep" ]; then
  echo "Unpacking $kpkg into $kdir"
  rm -rf "$vm"/linux-image-* # an older kernel's tree
  dpkg-deb -x "$(fetch "$kpkg")" "$kdir.tmp"
  mv "$kdir.tmp" "$kdir"
fi
if [ ! -x "$bbdir/bin/busybox" ]; then
  rm -rf "$bbdir"
  dpkg-deb -x "$(fetch busybox-static)" "$bbdir"
fi
busybox=$bbdir/bin/busybox
if [ ! -f "$kdir/lib/modules/$kver/modules.dep" ]; then
  # The package leaves modules.dep to its postinst; busybox's depmod writes it.
  "$busybox" depmod -b "$kdir" "$kver"
fi
# The bzImage's own decompressor takes ~15 s under TCG; the ELF inside it
# boots at once (PVH entry point).
vmlinux=$kdir/vmlinux
if [ ! -s "$vmlinux" ]; then
  vmlinuz=$kdir/boot/vmlinuz-$kver
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d : -f 1 || true)
  if [ -n "$offset" ] && tail -c +$((offset + 1)) "$vmlinuz" | xz -dcq > "$vmlinux.tmp" 2> /dev/null; then :; fi
  if [ "$(head -c 4 "$vmlinux.tmp" 2> /dev/null | od -An -c | tr -d ' ')" = '177ELF' ]; then
    mv "$vmlinux.tmp" "$vmlinux"
  else
    rm -f "$vmlinux.tmp"
    cp "$vmlinuz" "$vmlinux" # boot the bzImage as it is, slower
  fi
fi

qemu_base=(qemu-system-x86_64 -M pc -m 512 -smp 1 -nodefaults -no-user-config -display none -no-reboot
  -kernel "$vmlinux")

# KVM when it can run the stock kernel (a nested /dev/kvm may hang it), TCG
# otherwise; the answer is kept per host kernel and guest kernel.
accel=tcg
accel_file=$vm/accel-$(uname -r)-$kver
if [ -r /dev/kvm ] && [ -w /dev/kvm ]; then
  if [ ! -f "$accel_file" ]; then
    mkdir -p "$vm/probe"
    cp "$busybox" "$vm/probe/busybox"
    printf '#!/busybox sh\n/busybox echo veltrad-probe-booted\n/busybox poweroff -f\n' > "$vm/probe/init"
    chmod +x "$vm/probe/init"
    (cd "$vm/probe" && find . | cpio -o -H newc --quiet) > "$vm/probe.cpio"
    if timeout 10 "${qemu_base[@]}" -accel kvm -initrd "$vm/probe.cpio" -serial stdio \
      -append "console=ttyS0 quiet panic=-1" 2> /dev/null | grep -q veltrad-probe-booted; then
      echo kvm > "$accel_file"
    else
      echo tcg > "$accel_file"
    fi
  fi
  accel=$(cat "$accel_file")
fi

[ "$prepare" = 0 ] || exit 0

if [ ! -x "$bin/veltrad-cli" ] || [ ! -x "$bin/veltrad-sim" ]; then
  [ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
  cmake --build build -j "$(nproc 2> /dev/null || echo 2)" --target veltrad-cli veltrad-sim
fi

# --- the initramfs --------------------------------------------------------

run=$vm/run
rm -rf "$run"
mkdir -p "$run/root"/{bin,bench,img,modules,lib64,lib/x86_64-linux-gnu,proc,sys,dev,tmp}
root=$run/root
cp "$busybox" "$root/bin/"
cp "$guest_src/init" "$root/init"
cp "$guest_src"/*.sh "$root/bench/"
for program in veltrad-cli veltrad-sim; do
  strip -o "$root/bin/$program" "$bin/$program"
  for lib in $(ldd "$bin/$program" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
done

# Modules and their dependencies, loaded in dependency order: modules.dep
# lists a module's dependencies nearest first, so they load last to first.
wanted=(xhci-pci.ko ftdi_sio.ko cdc-acm.ko dummy_hcd.ko usb_f_acm.ko "g_serial.ko use_acm=1 n_ports=1")
depfile=$kdir/lib/modules/$kver/modules.dep
declare -A loaded=()
load() {  # path relative to the modules folder, parameters
  [ -n "${loaded[$1]:-}" ] && return
  loaded[$1]=1
  cp "$kdir/lib/modules/$kver/$1" "$root/modules/"
  echo "$(basename "$1") ${2:-}" >> "$root/modules/order"
}
for entry in "${wanted[@]}"; do
  read -r name params <<< "$entry"
  line=$(grep -E "(^|/)$name:" "$depfile") || { echo "test-vm: no $name in $kpkg" >&2; exit 1; }
  module=${line%%:*}
  read -r -a deps <<< "${line#*:}"
  for ((i = ${#deps[@]} - 1; i >= 0; i--)); do load "${deps[i]}"; done
  load "$module" "$params"
done

# The images: zero blocks before and after a span of random data, which has
# XON and XOFF bytes among it. `*.span` is what a terminal must receive.
make_image() {  # name, zero blocks before, data blocks, zero blocks after
  head -c $(($3 * 128)) /dev/urandom > "$run/$1.span"
  { head -c $(($2 * 128)) /dev/zero; cat "$run/$1.span"; head -c $(($4 * 128)) /dev/zero; } > "$root/img/$1.bin"
}
make_image small 2 128 3
make_image large 0 256 1

(cd "$root" && find . | cpio -o -H newc --quiet) > "$run/initramfs.cpio"

# --- booting --------------------------------------------------------------

for f in con.in con.out qmp.in qmp.out; do mkfifo "$run/$f"; done
console_log=$run/console.log
qemu_log=$run/qemu.log
: > "$console_log"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
}
trap cleanup EXIT

boot_t0=$(now_ms)
"${qemu_base[@]}" -accel "$accel" -initrd "$run/initramfs.cpio" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1" \
  -chardev pipe,id=con,path="$run/con" -serial chardev:con \
  -chardev pty,id=uart -serial chardev:uart \
  -device qemu-xhci,id=xhci \
  -chardev pty,id=ftc -device usb-serial,id=ft,bus=xhci.0,chardev=ftc,serial=$ft_serial \
  -chardev pipe,id=qmp,path="$run/qmp" -mon chardev=qmp,mode=control \
  > "$qemu_log" 2>&1 &
pids+=($!)
# Opened read-write, a fifo never blocks, whatever QEMU does.
exec {con_w}<> "$run/con.in" {con_r}<> "$run/con.out" {qmp_w}<> "$run/qmp.in" {qmp_r}<> "$run/qmp.out"

fail() {
  echo "test-vm: FAIL: $*" >&2
  echo "--- guest console (tail) ---" >&2
  printf 'dmesg\n' >&"$con_w"
  read_console '@vt never' 3 || true
  tail -n 60 "$console_log" >&2
  grep -v "redirected to" "$qemu_log" >&2 || true
  exit 1
}

# Reads the console until a line matches the glob $1, for at most $2
# seconds; the line is left in $line. Every line goes to the console log.
partial=""
read_console() {
  local deadline=$(($(now_ms) + $2 * 1000)) chunk left
  while :; do
    left=$((deadline - $(now_ms)))
    [ "$left" -gt 0 ] || return 1
    if IFS= read -r -t "$((left / 1000)).$(printf '%03d' $((left % 1000)))" -u "$con_r" chunk; then
      line=${partial}${chunk%$'\r'}
      partial=""
      printf '%s\n' "$line" >> "$console_log"
      # shellcheck disable=SC2053
      [[ $line == $1 ]] && return 0
    else
      partial+=$chunk
    fi
  done
}

# Runs one guest scenario and collects its "@vt NAME ..." lines in $out.
declare -A out=()
guest() {  # name, seconds
  local name=$1
  printf 'run %s\n' "$name" >&"$con_w"
  out=()
  while read_console "@vt *" "$2"; do
    local rest=${line#"@vt "}
    local scenario=${rest%% *} key value
    rest=${rest#* }
    key=${rest%% *}
    value=${rest#* }
    [ "$scenario" = "$name" ] && [ "$key" = end ] && return 0
    out[$scenario.$key]+=${out[$scenario.$key]:+$'\n'}$value
  done
  fail "$name: no end within $2 s"
}

# One value of a JSON object: string, number, boolean or null, unquoted.
json() { sed -n "s/.*\"$2\":\(\"\([^\"]*\)\"\|\([^,}]*\)\).*/\2\3/p" <<< "$1" | head -n 1; }
# The object in a JSON array whose "device" is $2.
json_port() { grep -o "{[^{}]*\"device\":\"$2\"[^{}]*}" <<< "$1"; }

qmp() {  # command as JSON; waits for its return
  printf '%s\n' "$1" >&"$qmp_w"
  local reply
  while IFS= read -r -t 10 -u "$qmp_r" reply; do
    case $reply in *'"return"'*) return 0 ;; *'"error"'*) fail "QMP $1: $reply" ;; esac
  done
  fail "QMP $1: no answer"
}
qmp_event() {  # event name
  local reply
  while IFS= read -r -t 10 -u "$qmp_r" reply; do
    case $reply in *"\"event\": \"$1\""*) return 0 ;; esac
  done
  fail "QMP: no $1 event"
}

pty_of() { sed -n "s/.*redirected to \(\/dev\/pts\/[0-9]*\) (label $1).*/\1/p" "$qemu_log"; }
deadline=$(($(now_ms) + 10000))
until [ -n "$(pty_of ftc)" ] && [ -n "$(pty_of uart)" ]; do
  [ "$(now_ms)" -lt "$deadline" ] || fail "QEMU named no ptys: $(cat "$qemu_log")"
  sleep 0.01
done
uart_pty=$(pty_of uart)
ft_pty=$(pty_of ftc)
# QEMU attaches the FT232 only while the far end of its pty is open, and a
# pty chardev forwards to the guest only then: the host keeps both open
# throughout.
for pty in "$uart_pty" "$ft_pty"; do
  stty -F "$pty" raw -echo
  exec {hold}<> "$pty"
done

read_console '@vt init ready*' 60 || fail "the guest did not come up"
boot_ms=$(($(now_ms) - boot_t0))
case $line in *ttyACM0*ttyGS0*ttyS1*ttyUSB0*) ;; *) fail "devices missing: $line" ;; esac
IFS= read -r -t 10 -u "$qmp_r" greeting || fail "no QMP greeting"
qmp '{"execute":"qmp_capabilities"}'
echo "Guest up in ${boot_ms} ms ($accel, $kpkg); FT232 on $ft_pty, 16550 on $uart_pty"

# --- the host's terminals -------------------------------------------------

declare -A sim_pid=()
start_sim() {  # name, pty, options...
  local name=$1 pty=$2
  shift 2
  rm -f "$run/$name.bin"
  "$bin/veltrad-sim" --device "$pty" --pace --out "$run/$name.bin" "$@" > "$run/$name.sim" 2>&1 &
  sim_pid[$name]=$!
  pids+=($!)
  local deadline=$(($(now_ms) + 5000))
  until grep -q "terminal on" "$run/$name.sim"; do
    [ "$(now_ms)" -lt "$deadline" ] || fail "veltrad-sim on $pty did not start: $(cat "$run/$name.sim")"
    sleep 0.01
  done
}
# Waits for a simulator to end by itself after a completed run, stops one
# that does not; $summary is its last line.
finish_sim() {  # name
  local pid=${sim_pid[$1]} deadline=$(($(now_ms) + 3000))
  while kill -0 "$pid" 2> /dev/null && [ "$(now_ms)" -lt "$deadline" ]; do sleep 0.02; done
  kill -INT "$pid" 2> /dev/null || true
  wait "$pid" || true
  summary=$(tail -n 1 "$run/$1.sim")
}

# --- checks ---------------------------------------------------------------

results=()
pass() {
  local what=$1
  shift
  results+=("PASS $what: $*")
  echo "PASS $what: $*"
}

expect_json() {  # what, json, key=value...
  local what=$1 obj=$2 pair
  shift 2
  for pair in "$@"; do
    [ "$(json "$obj" "${pair%%=*}")" = "${pair#*=}" ] || fail "$what: ${pair%%=*} is not ${pair#*=}: $obj"
  done
}
expect_handshake() {  # scenario: crtscts and ixany on before the run, off after it
  local before=" ${out[$1.stty]%%$'\n'*} " after=" ${out[$1.stty]#*$'\n'} "
  case $before in *" crtscts "*" ixany "*) ;; *) fail "$1: the leftover handshake was not set: $before" ;; esac
  case $after in *" -crtscts "*" -ixany "*) ;; *) fail "$1: the handshake was left on: $after" ;; esac
}
expect_image() {  # what, received file, image name
  cmp -s "$2" "$run/$3.span" || fail "$1: the received image differs from the file's non-zero span"
}
expect_sha() {  # what, sha256 from the guest, image name
  [ "$2" = "$(sha256sum < "$run/$3.span" | cut -d ' ' -f 1)" ] \
    || fail "$1: the received image differs from the file's non-zero span"
}
expect_held_bytes() {  # what, simulator summary
  case $2 in *", bytes while held 0") ;; *) fail "$1: bytes reached the terminal while it held the line: $2" ;; esac
}
# What N frames may take through the gadget: each frame's line time (11.7
# ms, the writer's pace and the simulator's), and two of dummy_hcd's 4 ms
# frames (HZ 250) for its last piece and for the reply; twice that for an
# emulated CPU on a busy host, and a second to start. A writer that waits on
# cdc_acm's queue figure as bytes needs seconds per frame.
acm_limit_ms() { echo $(($1 * (117 + 80) * 2 / 10 + 1000)); }

scenario_ft() {
  guest ft-ports 20
  local port
  port=$(json_port "${out[ft-ports.json]}" /dev/ttyUSB0) || fail "ports: no /dev/ttyUSB0: ${out[ft-ports.json]}"
  expect_json "ports" "$port" com=33 driver=ftdi_sio vid=0403 pid=6001 serial=$ft_serial
  pass ftdi_sio "ports --json lists /dev/ttyUSB0 as COM33, ftdi_sio 0403:6001, serial $ft_serial"

  start_sim ft "$ft_pty"
  guest ft-download 60
  finish_sim ft
  expect_json "ft-download" "${out[ft-download.json]}" outcome=completed resends=0
  expect_image "ft-download" "$run/ft.bin" small
  local timer=${out[ft-download.timer]} before
  before=${timer%%$'\n'*}
  [ "$timer" = "$before"$'\nduring 1\nafter '"${before#before }" ] \
    || fail "ft-download: the latency timer is not 1 while the port is open and as found after: $timer"
  expect_handshake ft-download
  case " ${out[ft-download.stty]} " in *" hupcl "*) ;; *) fail "hupcl not kept: ${out[ft-download.stty]}" ;; esac
  pass ftdi_sio "download with leftover crtscts ixany completes, image intact; -crtscts -ixany hupcl after;" \
    "latency timer ${before#before } -> 1 while open (low latency) -> ${before#before } after"

  # QEMU 7.2 crashes (usb_wakeup on the detached device) when a byte from
  # the chardev reaches a usb-serial being unplugged, so the terminal falls
  # silent after frame 9 and the unplug comes while the run waits on frame
  # 10's reply: nothing is then in flight towards the guest.
  start_sim ft "$ft_pty" --silent-after 9
  printf 'run ft-unplug\n' >&"$con_w"
  read_console "@vt ft-unplug mid-run" 30 || fail "ft-unplug: the run did not get under way"
  local t0 t1
  t0=$(now_ms)
  qmp '{"execute":"device_del","arguments":{"id":"ft"}}'
  read_console "@vt ft-unplug exit *" 10 || fail "ft-unplug: the run did not end after the unplug"
  t1=$(now_ms)
  local rc=${line#"@vt ft-unplug exit "}
  rc=${rc%% *}
  read_console "@vt ft-unplug json *" 5 || fail "ft-unplug: no JSON"
  local obj=${line#"@vt ft-unplug json "}
  read_console "@vt ft-unplug end *" 5 || fail "ft-unplug: no end"
  qmp_event DEVICE_DELETED
  finish_sim ft
  [ "$rc" = 4 ] || fail "ft-unplug: exit $rc, not 4 (silent after some acknowledgements): $obj"
  expect_json "ft-unplug" "$obj" port_gone=true
  [ $((t1 - t0)) -lt 1000 ] || fail "ft-unplug: the run ended $((t1 - t0)) ms after the unplug"
  pass ftdi_sio "unplug mid-run: exit 4, port_gone, the run ended $((t1 - t0)) ms after device_del"

  start_sim ft "$ft_pty"
  qmp "{\"execute\":\"device_add\",\"arguments\":{\"driver\":\"usb-serial\",\"id\":\"ft\",\"bus\":\"xhci.0\",\"chardev\":\"ftc\",\"serial\":\"$ft_serial\"}}"
  guest ft-replug 60
  finish_sim ft
  [ "${out[ft-replug.devices]}" = "ttyUSB0 " ] || fail "ft-replug: devices after replug: ${out[ft-replug.devices]}"
  expect_json "ft-replug" "${out[ft-replug.json]}" outcome=completed resends=0
  expect_image "ft-replug" "$run/ft.bin" small
  pass ftdi_sio "after device_add it is /dev/ttyUSB0 again, and a download completes"
}

scenario_uart() {
  start_sim uart "$uart_pty"
  guest uart-download 60
  finish_sim uart
  expect_json "uart-download" "${out[uart-download.json]}" outcome=completed resends=0
  expect_image "uart-download" "$run/uart.bin" small
  expect_handshake uart-download
  pass 8250 "download with leftover crtscts ixany completes, image intact"

  # A stray 06 halfway through the hold, and frame 3 refused once after it:
  # taken for frame 3's reply, the stray would skip that frame.
  start_sim uart "$uart_pty" --xoff-before 3 --xoff-ms 800 --stray-in-hold --refuse 3 --times 1
  guest uart-xoff 60
  finish_sim uart
  expect_json "uart-xoff" "${out[uart-xoff.json]}" outcome=completed resends=1
  expect_image "uart-xoff" "$run/uart.bin" small
  expect_held_bytes "uart-xoff" "$summary"
  pass 8250 "XOFF before frame 3 for 800 ms: no byte reached the terminal during the hold; a stray 06 in it was no reply (frame 3 refused once, resent, image intact)"

  # XOFF with the last frame's ACK, never an XON: the terminal lacks its end.
  start_sim uart "$uart_pty" --xoff-before 128 --xoff-ms 60000
  guest uart-end 60
  finish_sim uart
  [ "${out[uart-end.exit]%% *}" = 7 ] || fail "uart-end: exit ${out[uart-end.exit]}, not 7: ${out[uart-end.json]}"
  expect_json "uart-end" "${out[uart-end.json]}" outcome=end-held acknowledged=128 held_by_xoff=true
  case $summary in interrupted:*) ;; *) fail "uart-end: the terminal got its end: $summary" ;; esac
  pass 8250 "every frame acknowledged, then XOFF for good: the closing bytes stay in the kernel, exit 7 end-held, not complete"

  start_sim uart "$uart_pty" --xoff-before 3 --xoff-ms 60000
  guest uart-stop 60
  finish_sim uart
  expect_stop uart-stop
  start_sim uart "$uart_pty"
  guest uart-reopen 60
  finish_sim uart
  expect_json "uart-reopen" "${out[uart-reopen.json]}" outcome=completed
  expect_image "uart-reopen" "$run/uart.bin" small
  pass 8250 "XOFF for good and SIGINT: exit 130 $stopped the signal; the next download opens at once and completes"
}

expect_stop() {  # scenario
  local rc=${out[$1.exit]%% *} ms=${out[$1.stopped]#after }
  ms=${ms%% *}
  [ "$rc" = 130 ] || fail "$1: exit $rc, not 130: ${out[$1.json]}"
  [ "$ms" -lt 1000 ] || fail "$1: the CLI ended ${out[$1.stopped]} the signal"
  # Frame 2's acknowledgement came after the XOFF: the stop fell into the hold.
  expect_json "$1" "${out[$1.json]}" acknowledged=3
  stopped=${out[$1.stopped]}
}

scenario_acm() {
  guest acm-download 60
  expect_json "acm-download" "${out[acm-download.json]}" outcome=completed resends=0
  expect_sha "acm-download" "${out[acm-download.sha]}" small
  local seconds limit
  seconds=$(json "${out[acm-download.json]}" seconds)
  limit=$(acm_limit_ms 128)
  [ "$(awk -v s="$seconds" -v l="$limit" 'BEGIN { print (s * 1000 < l) }')" = 1 ] \
    || fail "acm-download: ${seconds} s for 128 frames, more than the ${limit} ms that the line and the gadget allow"
  pass cdc_acm "download completes, image intact, 128 frames in ${seconds} s (line 1.50 s; limit $((limit / 1000)).$((limit % 1000 / 100)) s)"

  guest acm-xoff 60
  expect_json "acm-xoff" "${out[acm-xoff.json]}" outcome=completed resends=1
  expect_sha "acm-xoff" "${out[acm-xoff.sha]}" small
  expect_held_bytes "acm-xoff" "${out[acm-xoff.sim]}"
  pass cdc_acm "XOFF before frame 3 for 800 ms: no frame byte during the hold (Veltrad's own XON/XOFF); a stray 06 in it was no reply (frame 3 refused once, resent, image intact)"

  guest acm-stop 90
  expect_stop acm-stop
  expect_held_bytes "acm-stop" "${out[acm-stop.sim]}"
  stopped=${out[acm-stop.stopped]}
  expect_json "acm-reopen" "${out[acm-reopen.json]}" outcome=completed
  expect_sha "acm-reopen" "${out[acm-reopen.sha]}" small
  pass cdc_acm "XOFF for good and SIGINT: exit 130 $stopped the signal, nothing sent meanwhile; the next download completes"
}

scenario_all() {
  start_sim ft "$ft_pty"
  start_sim uart "$uart_pty"
  guest all 90
  finish_sim ft
  finish_sim uart
  local device obj
  [ "${out[all.exit]%% *}" = 0 ] || fail "all: exit ${out[all.exit]}: ${out[all.json]}"
  for device in /dev/ttyUSB0 /dev/ttyS1 /dev/ttyACM0; do
    obj=$(json_port "${out[all.json]}" "$device") || fail "all: no result for $device: ${out[all.json]}"
    expect_json "all $device" "$obj" outcome=completed
  done
  expect_image "all /dev/ttyUSB0" "$run/ft.bin" small
  expect_image "all /dev/ttyS1" "$run/uart.bin" small
  expect_sha "all /dev/ttyACM0" "${out[all.sha]}" small
  # time, port, device, adapter serial, ...
  awk -F '\t' -v s="$ft_serial" '$3 == "/dev/ttyUSB0" && $4 == s { found = 1 } END { exit !found }' <<< "${out[all.log]}" \
    || fail "all: the log names no adapter serial $ft_serial for /dev/ttyUSB0: ${out[all.log]}"
  pass "all three" "one run on /dev/ttyUSB0, /dev/ttyS1 and /dev/ttyACM0: all complete, images intact, the log holds the FT232's serial"
}

for group in "${groups[@]}"; do "scenario_$group"; done

printf 'off\n' >&"$con_w"
echo
printf '%s\n' "${results[@]}"
echo "Virtual bench passed: ${#results[@]} checks, guest up in ${boot_ms} ms, stage $(($(now_ms) - stage_t0)) ms."
