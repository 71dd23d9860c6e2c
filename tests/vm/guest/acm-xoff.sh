# cdc_acm ignores XOFF: Veltrad holds frame 3 itself for the 800 ms.
. /bench/lib.sh
guest_sim_start --xoff-before 3 --xoff-ms 800
cli_start download --port /dev/ttyACM0 /img/small.bin
cli_finish
guest_sim_finish
