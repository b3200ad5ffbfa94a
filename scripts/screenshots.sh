#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Renews the README's screenshots under Xvfb (a 1280x1024 screen) against the
# virtual modem: docs/window-capture.png, docs/window-resized.png and
# docs/window-decoded.png (the decoded view shown) at scale 1
# and docs/window-scale2-capture.png at QT_SCALE_FACTOR=2.
# Needs: scripts/install-deps.sh gui.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-shots.XXXXXX")
xvfb_pid=
modem_pid=
cleanup() {
    for pid in "$modem_pid" "$xvfb_pid"; do
        [[ -n "$pid" ]] && { kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
    done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp &
xvfb_pid=$!
export ORVANE_PORT_DIR="$work/ports"
mkdir -p "$ORVANE_PORT_DIR" "$work/captures"
"$build/tools/vmodem/orvane-vmodem" --link COM1 > "$work/device" &
modem_pid=$!
for _ in $(seq 50); do
    [[ -L "$ORVANE_PORT_DIR/COM1" ]] && break
    sleep 0.1
done

shoot() {   # prefix, then environment assignments
    local prefix=$1; shift
    (cd "$work/captures" && env DISPLAY="$display" QT_QPA_PLATFORM=xcb "$@" \
        "$build/tools/screenshots/orvane-screenshots" "$root/docs" "$prefix")
}
shoot window
shoot window-scale2 QT_SCALE_FACTOR=2
rm -f "$root/docs/window-scale2-resized.png" "$root/docs/window-scale2-decoded.png"
ls -l "$root"/docs/window*.png
