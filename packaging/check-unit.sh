#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The service template as installed: systemd-analyze verify, and
# systemd-analyze security --offline rates it "OK" or better (exposure 2.5 or
# less). Exit 77 (skipped) where systemd-analyze is not installed.
#   check-unit.sh TEMPLATE BINARY
set -euo pipefail
template=$1
binary=$2
command -v systemd-analyze >/dev/null || { echo "systemd-analyze not found: unit checks skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -e 's|@CMAKE_INSTALL_FULL_SYSCONFDIR@|/etc|g' -e "s|@CMAKE_INSTALL_FULL_BINDIR@/orvane-log|$binary|g" \
    "$template" >"$work/orvane-log@.service"
cd "$work"
report=$(systemd-analyze security --offline=true --threshold=25 ./orvane-log@.service 2>&1) || {
    echo "$report" >&2
    echo "FAIL: the unit's exposure is above 2.5" >&2
    exit 1
}
echo "$report" | tail -n 1
# verify looks up the man page of Documentation=; a machine without man-db
# cannot, which says nothing about the unit.
verify=$(systemd-analyze verify ./orvane-log@COM1.service 2>&1 | grep -v "man orvane-log(1)" || true)
if [[ -n "$verify" ]]; then
    echo "$verify" >&2
    echo "FAIL: systemd-analyze verify" >&2
    exit 1
fi
for word in "Type=notify" "WatchdogSec=30" "UMask=0027" "DynamicUser=yes" "SupplementaryGroups=dialout" \
            "ExecStart=$binary %f" "--rotate-size 256M --min-free 1G"; do
    grep -qF -- "$word" orvane-log@.service || { echo "FAIL: the unit lacks $word" >&2; exit 1; }
done
