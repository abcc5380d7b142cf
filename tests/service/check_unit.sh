#!/bin/sh
# SPDX-License-Identifier: MIT
# The systemd unit as systemd reads it: every line understood (systemd only warns
# about a value it cannot parse, so any message fails the check), and sandboxed to
# an exposure of 2.0 at most on `systemd-analyze security`'s 0-10 scale.
#   check_unit.sh SYSTEMD_ANALYZE UNIT PELLORA
set -eu
analyze=$1 unit=$2 pellora=$3
folder=$(mktemp -d)
trap 'rm -r "$folder"' EXIT
# The built binary stands in for the installed one, which verify wants to exist.
sed "s|^ExecStart=[^ ]*|ExecStart=$pellora|" "$unit" > "$folder/pellora.service"
messages=$("$analyze" verify --man=no "$folder/pellora.service" 2>&1) || { echo "$messages"; exit 1; }
[ -z "$messages" ] || { echo "$messages"; exit 1; }
"$analyze" security --offline=yes --threshold=20 "$folder/pellora.service"
