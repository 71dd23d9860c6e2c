# A download through the 8250 driver with a leftover handshake (a pty
# chardev has no CTS: with crtscts left on, nothing would leave).
. /bench/lib.sh
stty -F /dev/ttyS1 crtscts ixany
say "stty before $(stty -F /dev/ttyS1 -a 2>/dev/null | tr '\n' ' ')"
cli_start download --port /dev/ttyS1 /img/small.bin
cli_finish
say "stty after $(stty -F /dev/ttyS1 -a 2>/dev/null | tr '\n' ' ')"
