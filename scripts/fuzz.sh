#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) into build-fuzz/ and runs each for a set time.
#
#   scripts/fuzz.sh [seconds] [target...]
#
# seconds defaults to $FUZZ_SECONDS or 60; targets default to all of them.
# Seeds: fuzz/corpus/<target>/ (committed) plus the sample data beside the
# project (../shared/data). New inputs go to build-fuzz/corpus/<target>/,
# crashes to build-fuzz/artifacts/<target>/. Exit status 1 when any target
# found something.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh" fuzz

seconds=${FUZZ_SECONDS:-60}
if [[ $# -gt 0 && "$1" =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi

all_targets=(fuzz_hex_tokens fuzz_number_token fuzz_hdlc_encode fuzz_mask_builders
             fuzz_dmc_reader fuzz_canned_reply fuzz_hdlc_deframer fuzz_diag_decoder
             fuzz_gsmtap)
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${all_targets[@]}")

build="$root/build-fuzz"
data="$root/../shared/data"
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# Configure once; later runs only rebuild.
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

# Sample data that makes a good start for each target.
seeds_for() {
    case "$1" in
        fuzz_dmc_reader) echo "$data/dmc" ;;
        fuzz_hdlc_deframer|fuzz_canned_reply|fuzz_hdlc_encode|fuzz_gsmtap) echo "$data/qmdl" ;;
    esac
}

# The longest input each target is given. Without -max_len libFuzzer takes the
# largest seed, and the sample data holds a 114 KB .dmc and 7 KB captures: every
# mutation then drags up to that many bytes through instrumented code, which
# made the runs slow and the memory large. 4096 is libFuzzer's own default.
# The encoder finds nothing new past 2560: the framer's room is 1024 bytes,
# 2048 when every byte is escaped. The deframer reads every byte twice and
# checks each good frame by framing it again, which it does up to 1021 bytes:
# 1100 holds a frame past that, and its size limit is reached through the
# small limits its first byte picks. Longer seeds are cut as they are read.
max_len_for() {
    case "$1" in
        fuzz_hdlc_encode) echo 2560 ;;
        fuzz_hdlc_deframer) echo 1100 ;;
        *) echo 4096 ;;
    esac
}

# AddressSanitizer keeps freed memory poisoned in a quarantine (256 MB by
# default) to catch use after free. One input allocates a few hundred KB at
# most, so 32 MB still covers everything an input frees, while the process no
# longer grows to hundreds of MB and faults in fresh pages on every run.
# Options already in ASAN_OPTIONS come later and win.
export ASAN_OPTIONS="quarantine_size_mb=32${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

status=0
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    artifacts="$build/artifacts/$t"
    mkdir -p "$corpus" "$artifacts"
    dirs=("$corpus")
    [[ -d "fuzz/corpus/$t" ]] && dirs+=("fuzz/corpus/$t")
    extra=$(seeds_for "$t")
    [[ -n "$extra" && -d "$extra" ]] && dirs+=("$extra")
    echo "== $t for ${seconds}s"
    if ! "$build/$t" -max_total_time="$seconds" -max_len="$(max_len_for "$t")" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$artifacts/" "${dirs[@]}"; then
        echo "!! $t found a problem; see $artifacts/" >&2
        status=1
    fi
done
exit $status
