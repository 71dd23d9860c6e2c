# The host unplugs the FT232 once ten frames have gone out.
. /bench/lib.sh
cli_start download --port /dev/ttyUSB0 /img/large.bin
wait_written "$cli" $((10 * 135)) && say "mid-run"
cli_finish
