#!/bin/sh
# The library's dynamic symbols must be exactly its public interface: the
# exported functions of telhid.h and the configuration byte. Anything else
# (a C++ symbol of a linked-in archive, a dependency's function) fails.
# Usage: check_exports.sh LIBRARY
set -eu
expected="get_driver
get_error_string
gheckBeatheart
hid_get_status
hid_remount_dev
hid_send_cmd
hid_server_start
hid_server_start_tcp
hid_server_stop
hid_server_version
load_string_list
reset_device
set_language"
# Type "A" lines are the version node itself.
actual=$(nm -D --defined-only "$1" | awk '$2 != "A" { sub(/@.*/, "", $3); print $3 }' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "unexpected export list of $1:"
  echo "--- expected"; echo "$expected"
  echo "--- actual"; echo "$actual"
  exit 1
fi
echo "exports as expected: $(echo "$actual" | tr '\n' ' ')"
