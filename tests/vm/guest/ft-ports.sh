# The FT232 as the port list shows it.
. /bench/lib.sh
say "json $(veltrad-cli ports --json | tr -d '\n')"
