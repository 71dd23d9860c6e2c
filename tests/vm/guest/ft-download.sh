# A download through ftdi_sio after another program left hardware handshake
# and IXANY on; the latency timer before, while the port is open, and after.
. /bench/lib.sh
timer=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
stty -F /dev/ttyUSB0 crtscts ixany
say "stty before $(stty -F /dev/ttyUSB0 -a 2>/dev/null | tr '\n' ' ')"
say "timer before $(cat $timer)"
cli_start download --port /dev/ttyUSB0 /img/small.bin
wait_written "$cli" 135 && say "timer during $(cat $timer)"
cli_finish
say "timer after $(cat $timer)"
say "stty after $(stty -F /dev/ttyUSB0 -a 2>/dev/null | tr '\n' ' ')"
