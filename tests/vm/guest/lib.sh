# Sourced by each scenario in the guest. Every line for the host starts with
# "@vt SCENARIO"; the host decides what passes.

say() { echo "@vt $SCENARIO $*"; }

# Milliseconds since boot, to 10 ms (busybox's date has no %N).
up_ms() {
    read -r up _ </proc/uptime
    echo $((${up%.*} * 1000 + 10#${up#*.} * 10))
}

# veltrad-cli in the background, its JSON and stderr kept; sets $cli.
cli_start() {
    cli_t0=$(up_ms)
    veltrad-cli "$@" --json >"/tmp/$SCENARIO.json" 2>"/tmp/$SCENARIO.err" &
    cli=$!
}

cli_finish() {
    wait "$cli"
    cli_report $?
}

cli_report() {
    say "exit $1 ms $(($(up_ms) - cli_t0))"
    say "json $(tr -d '\n' <"/tmp/$SCENARIO.json")"
    while read -r line; do say "stderr $line"; done <"/tmp/$SCENARIO.err"
}

# Waits until process $1 has written $2 bytes (frames go out in whole
# writes); false when it ends first.
wait_written() {
    while kill -0 "$1" 2>/dev/null; do
        [ "$(sed -n 's/^wchar: //p' "/proc/$1/io")" -ge "$2" ] && return 0
        usleep 5000
    done
    return 1
}

# The terminal on the gadget's end of the cdc_acm port; sets $sim.
guest_sim_start() {
    rm -f /tmp/sim.out /tmp/acm.bin
    veltrad-sim --device /dev/ttyGS0 --pace --out /tmp/acm.bin "$@" >/tmp/sim.out 2>&1 &
    sim=$!
    while ! grep -q "terminal on" /tmp/sim.out 2>/dev/null; do
        kill -0 "$sim" 2>/dev/null || break
        usleep 10000
    done
}

# A completed run ends the simulator by itself (three EOTs); any other is
# stopped.
guest_sim_finish() {
    for _ in $(seq 100); do
        kill -0 "$sim" 2>/dev/null || break
        usleep 20000
    done
    kill -INT "$sim" 2>/dev/null
    wait "$sim"
    say "sim $(tail -n 1 /tmp/sim.out)"
    [ -f /tmp/acm.bin ] && say "sha $(sha256sum /tmp/acm.bin | cut -d ' ' -f 1)"
}
