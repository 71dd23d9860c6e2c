# Right after the stop, the port opens again and a download completes.
. /bench/lib.sh
cli_start download --port /dev/ttyS1 /img/small.bin
cli_finish
