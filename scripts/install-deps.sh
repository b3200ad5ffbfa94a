#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages Orvane needs to build, test and run.
# As root the missing ones are installed with apt-get; otherwise the exact
# command is printed and the script stops.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev libpugixml-dev zlib1g-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    dpkg-dev
)
# Extra groups: "gui" adds what a headless screenshot needs, "fuzz" clang's fuzzer runtime,
# "package" what checks the service unit and the .deb (their tests skip without them).
for group in "$@"; do
    case "$group" in
        gui)  packages+=(xvfb xauth x11-apps imagemagick) ;;
        fuzz) packages+=(clang libclang-rt-14-dev libfuzzer-14-dev) ;;
        package) packages+=(systemd lintian) ;;
        *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

line="apt-get update && apt-get install -y ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
    echo "Orvane needs these packages. Run as root:" >&2
    echo "  $line" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
