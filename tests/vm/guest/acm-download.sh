# A download through cdc_acm to the simulator on the gadget's end.
. /bench/lib.sh
guest_sim_start
cli_start download --port /dev/ttyACM0 /img/small.bin
cli_finish
guest_sim_finish
