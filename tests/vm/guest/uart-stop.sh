# The host's terminal holds the line before frame 3 for good. Frame 3 is
# handed to the driver at once (the kernel holds it); unanswered 300 ms on,
# the line is held, and the stop comes.
. /bench/lib.sh
cli_start download --port /dev/ttyS1 /img/small.bin
wait_written "$cli" $((4 * 135)) && usleep 300000
t0=$(up_ms)
kill -INT "$cli"
wait "$cli"
rc=$?
say "stopped after $(($(up_ms) - t0)) ms"
cli_report $rc
