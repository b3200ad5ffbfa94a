#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Starts Orvane on a virtual modem: no hardware needed. The modem answers on
# "COM1" of a temporary port directory and stops when the window closes.
set -euo pipefail
build=${1:-build}

ports=$(mktemp -d "${TMPDIR:-/tmp}/orvane-demo-ports.XXXXXX")
modem_pid=
cleanup() {
    if [[ -n "$modem_pid" ]]; then
        kill -TERM "$modem_pid" 2>/dev/null || true
        wait "$modem_pid" 2>/dev/null || true
    fi
    rm -rf "$ports"
}
trap cleanup EXIT INT TERM

export ORVANE_PORT_DIR="$ports"
"$build/tools/vmodem/orvane-vmodem" --link COM1 > "$ports/.device" &
modem_pid=$!
for _ in $(seq 50); do
    [[ -L "$ports/COM1" ]] && break
    sleep 0.1
done
[[ -L "$ports/COM1" ]] || { echo "demo: the virtual modem did not start" >&2; exit 1; }

echo "Virtual modem on $(head -n1 "$ports/.device"), linked as COM1."
echo "Connect on COM1 and try every mode: DM AT (ATI), HEX, ASCII (AT), Log client"
echo "(Load Default Cfg... or a .dmc from ../shared/data/dmc; captures land in $(pwd)), Log server."
echo "In Log client mode the line under the results box counts the capture; the context menu"
echo "(right click) stops the modem's logging and opens the capture folder."
"$build/app/orvane"
