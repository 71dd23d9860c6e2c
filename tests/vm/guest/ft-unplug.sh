# The host unplugs the FT232 once frame 10 has gone out; its terminal
# answers frames 0 to 9 only.
. /bench/lib.sh
cli_start download --port /dev/ttyUSB0 /img/large.bin
wait_written "$cli" $((11 * 135)) && say "mid-run"
cli_finish
