# After the host plugged the FT232 in again: the same name, and a download.
. /bench/lib.sh
for _ in $(seq 250); do
    [ -e /dev/ttyUSB0 ] && break
    usleep 20000
done
say "devices $(ls /dev | grep ttyUSB | tr '\n' ' ')"
cli_start download --port /dev/ttyUSB0 /img/small.bin
cli_finish
