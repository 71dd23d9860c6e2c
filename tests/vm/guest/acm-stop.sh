# XOFF before frame 3 for good; 300 ms after frame 2 went out (its reply
# carries the XOFF) the stop comes. Then the port opens again at once.
. /bench/lib.sh
guest_sim_start --xoff-before 3 --xoff-ms 60000
cli_start download --port /dev/ttyACM0 /img/small.bin
wait_written "$cli" $((3 * 135)) && usleep 300000
t0=$(up_ms)
kill -INT "$cli"
wait "$cli"
rc=$?
say "stopped after $(($(up_ms) - t0)) ms"
cli_report $rc
guest_sim_finish
SCENARIO=acm-reopen
guest_sim_start
cli_start download --port /dev/ttyACM0 /img/small.bin
cli_finish
guest_sim_finish
