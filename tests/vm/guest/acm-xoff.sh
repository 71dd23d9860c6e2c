# cdc_acm ignores XOFF: Veltrad holds frame 3 itself for the 800 ms; a stray
# 06 halfway through the hold, and a refusal of frame 3 after it.
. /bench/lib.sh
guest_sim_start --xoff-before 3 --xoff-ms 800 --stray-in-hold --refuse 3 --times 1
cli_start download --port /dev/ttyACM0 /img/small.bin
cli_finish
guest_sim_finish
