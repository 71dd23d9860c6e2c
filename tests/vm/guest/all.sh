# One run on all three drivers at once, with the run log.
. /bench/lib.sh
guest_sim_start
cli_start download --port /dev/ttyUSB0 --port /dev/ttyS1 --port /dev/ttyACM0 /img/small.bin --log /tmp/run.log
cli_finish
guest_sim_finish
while read -r line; do say "log $line"; done </tmp/run.log
