# The host's terminal acknowledges every frame, then holds the line for good:
# the kernel keeps the closing bytes, which never leave.
. /bench/lib.sh
cli_start download --port /dev/ttyS1 /img/small.bin
cli_finish
