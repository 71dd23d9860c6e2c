# The host's terminal holds the line before frame 3 for 800 ms.
. /bench/lib.sh
cli_start download --port /dev/ttyS1 /img/small.bin
cli_finish
