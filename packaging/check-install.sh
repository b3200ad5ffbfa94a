#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs Orvane into a temporary root and checks what lands there.
#
#   check-install.sh install BUILD MANIFEST VERSION [CONFIG]
#       DESTDIR install of the build tree with prefix /usr
#   check-install.sh deb BUILD MANIFEST VERSION [CONFIG]
#       builds the Debian package with CPack, checks its control fields and
#       unpacks it with dpkg -x
#
# MANIFEST lists the files every install holds, relative to the prefix.
# Exit status 0 when all is well, 1 on the first batch of faults, 77 when a
# tool the check needs is missing (CTest reports it as skipped).
set -uo pipefail

mode=${1:?mode}
build=${2:?build folder}
manifest=${3:?manifest}
version=${4:?version}
config=${5:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-$mode-check.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
root=$work/root
prefix=$root/usr
faults=0

fail() { echo "FAIL: $*" >&2; faults=$((faults + 1)); }
skip() { echo "SKIP: $*" >&2; exit 77; }

# PNG width and height: the IHDR chunk's two big-endian words at offset 16.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'; }

check_prefix() {
    local p=$1 rel f
    while IFS= read -r rel; do
        [[ -n "$rel" ]] || continue
        f=$p/$rel
        if [[ ! -s "$f" ]]; then
            fail "missing or empty: /usr/$rel"
            continue
        fi
        case "$rel" in
            bin/*)
                [[ -x "$f" ]] || fail "not executable: /usr/$rel" ;;
            */apps/orvane.png)
                local want=${rel#*/hicolor/}; want=${want%%/*}
                [[ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" == 89504e470d0a1a0a ]] || fail "not a PNG: /usr/$rel"
                [[ "$(png_size "$f")" == "$want" ]] || fail "/usr/$rel is $(png_size "$f"), not $want" ;;
            *.svg)
                grep -q '<svg' "$f" || fail "not an SVG: /usr/$rel"
                if command -v xmllint >/dev/null; then
                    xmllint --noout "$f" || fail "SVG not well-formed: /usr/$rel"
                fi ;;
            */man1/*.1.gz)
                local text
                if ! text=$(gzip -dc "$f"); then
                    fail "man page not gzip: /usr/$rel"
                    continue
                fi
                grep -q "^\.TH .*\"Orvane $version\"" <<<"$text" || fail "man page /usr/$rel lacks the version $version"
                grep -q '@[A-Z_]*@' <<<"$text" && fail "man page /usr/$rel has an unreplaced @VARIABLE@"
                if command -v groff >/dev/null; then
                    local warnings
                    warnings=$(groff -man -ww -z <<<"$text" 2>&1)
                    [[ -z "$warnings" ]] || fail "groff warns on /usr/$rel: $warnings"
                fi ;;
            */systemd/system/orvane-log@.service)
                grep -qx 'ExecStart=/usr/bin/orvane-log %f $ORVANE_LOG_OPTIONS' "$f" || fail "/usr/$rel does not start /usr/bin/orvane-log on its instance"
                grep -qx 'EnvironmentFile=-/etc/default/orvane-log' "$f" || fail "/usr/$rel does not read /etc/default/orvane-log"
                grep -qx 'Restart=on-failure' "$f" || fail "/usr/$rel is not restarted on failure"
                grep -q '@[A-Z_]*@' "$f" && fail "/usr/$rel has an unreplaced @VARIABLE@" ;;
            *.desktop)
                local key
                for key in 'Type=Application' 'Name=Orvane' 'Exec=orvane' 'Icon=orvane' 'Terminal=false'; do
                    grep -qx "$key" "$f" || fail "/usr/$rel lacks $key"
                done
                grep -qx 'Comment=..*' "$f" || fail "/usr/$rel lacks a Comment"
                for key in Development Electronics; do
                    grep -Eq "^Categories=(.*;)?$key;" "$f" || fail "/usr/$rel lacks the category $key"
                done
                if command -v desktop-file-validate >/dev/null; then
                    desktop-file-validate "$f" || fail "desktop-file-validate rejects /usr/$rel"
                fi ;;
        esac
    done <"$manifest"

    # Nothing outside the places the package owns (a stray install rule of a
    # library or a test would show up here).
    local stray
    stray=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | grep -Ev \
        '^(usr/(bin/[^/]+|lib/systemd/system/orvane-log@\.service|share/applications/orvane\.desktop|share/icons/hicolor/[^/]+/apps/orvane\.(png|svg)|share/man/man1/[^/]+\.1\.gz|share/doc/orvane/.+)|etc/default/orvane-log)$')
    [[ -z "$stray" ]] || fail "unexpected files installed: $stray"

    # The installed programs find every shared library they need and run
    # from where they landed.
    local exe missing
    for exe in "$p"/bin/*; do
        if command -v ldd >/dev/null && missing=$(ldd "$exe" 2>&1 | grep 'not found'); then
            fail "${exe#"$root"} misses libraries: $missing"
        fi
    done
    # The window program has no option that exits at once: it must still be
    # running (in its event loop) when the timeout ends it.
    if [[ -x "$p/bin/orvane" ]] && command -v timeout >/dev/null; then
        local status=0
        (cd "$work" && QT_QPA_PLATFORM=offscreen timeout 3 "$p/bin/orvane" >"$work/orvane.log" 2>&1) || status=$?
        [[ $status -eq 124 ]] || fail "installed orvane stopped at start with status $status: $(head -c 2000 "$work/orvane.log")"
    fi
    if [[ -x "$p/bin/orvane-log" ]]; then
        "$p/bin/orvane-log" --help 2>&1 | grep -q '^Usage: orvane-log' || fail "installed orvane-log --help does not print its usage"
        # Without a display and without a port it ends at once with status 1.
        local status=0
        env -u DISPLAY -u WAYLAND_DISPLAY "$p/bin/orvane-log" >/dev/null 2>&1 || status=$?
        [[ $status -eq 1 ]] || fail "installed orvane-log without arguments ended with $status, not 1"
        grep -q '^ORVANE_LOG_OPTIONS=' "$root/etc/default/orvane-log" 2>/dev/null || fail "missing /etc/default/orvane-log"
    fi
    if [[ -x "$p/bin/orvane-vmodem" ]]; then
        "$p/bin/orvane-vmodem" --help 2>&1 | grep -q '^Usage: orvane-vmodem' || fail "installed orvane-vmodem --help does not print its usage"
    fi
}

case "$mode" in
install)
    # Pass the configuration for multi-configuration generators.
    args=(--install "$build" --prefix /usr)
    [[ -n "$config" ]] && args+=(--config "$config")
    if ! DESTDIR=$root cmake "${args[@]}" >"$work/install.log" 2>&1; then
        cat "$work/install.log" >&2
        fail "cmake --install failed"
    fi
    check_prefix "$prefix"
    ;;
deb)
    command -v cpack >/dev/null || skip "cpack not found"
    command -v dpkg-deb >/dev/null || skip "dpkg-deb not found"
    [[ -f "$build/CPackConfig.cmake" ]] || { echo "FAIL: no $build/CPackConfig.cmake" >&2; exit 1; }
    args=(-G DEB --config "$build/CPackConfig.cmake" -B "$work/out")
    [[ -n "$config" ]] && args+=(-C "$config")
    # CPack installs from the build folder it was configured in.
    if ! (cd "$build" && cpack "${args[@]}") >"$work/cpack.log" 2>&1; then
        cat "$work/cpack.log" >&2
        echo "FAIL: cpack failed" >&2
        exit 1
    fi
    debs=("$work"/out/*.deb)
    if [[ ${#debs[@]} -ne 1 || ! -f "${debs[0]}" ]]; then
        echo "FAIL: expected one .deb, got: ${debs[*]}" >&2
        exit 1
    fi
    deb=${debs[0]}
    field() { dpkg-deb -f "$deb" "$1"; }
    [[ "$(field Package)" == orvane ]] || fail "Package is '$(field Package)'"
    [[ "$(field Version)" == "$version" ]] || fail "Version is '$(field Version)', not $version"
    [[ "$(field Section)" == electronics ]] || fail "Section is '$(field Section)'"
    if command -v dpkg >/dev/null; then
        [[ "$(field Architecture)" == "$(dpkg --print-architecture)" ]] || fail "Architecture is '$(field Architecture)'"
    fi
    [[ -n "$(field Maintainer)" ]] || fail "no Maintainer"
    [[ -n "$(field Description)" ]] || fail "no Description"
    depends=$(field Depends)
    for lib in libqt6core6 libqt6gui6 libqt6widgets6 libpugixml1v5; do
        grep -Eq "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
    done
    # Build-time packages must not be needed to run it.
    grep -Eq -- '-dev( |,|$)' <<<"$depends" && fail "Depends names a development package: $depends"
    mkdir -p "$root"
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
    # Every path in the package lies under /usr.
    outside=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -Ev '^\./((usr(/.*)?)|etc/|etc/default/|etc/default/orvane-log)?$')
    [[ -z "$outside" ]] || fail "package holds paths outside /usr: $outside"
    # The licence, the changelog, and lintian with no error and no warning.
    contents=$(dpkg-deb -c "$deb")
    for doc in copyright changelog.gz; do
        grep -q "\./usr/share/doc/orvane/$doc\$" <<<"$contents" || fail "the package lacks /usr/share/doc/orvane/$doc"
    done
    if command -v lintian >/dev/null; then
        lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian"; }
    else
        echo "lintian not found: the lintian check skipped"
    fi
    # The service's options are the administrator's: dpkg keeps their edits.
    if dpkg-deb -c "$deb" | grep -q '\./etc/default/orvane-log$'; then
        dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles 2>/dev/null | grep -qx /etc/default/orvane-log \
            || fail "/etc/default/orvane-log is not a conffile"
    fi
    check_prefix "$prefix"
    ;;
*)
    echo "usage: $0 install|deb BUILD MANIFEST VERSION [CONFIG]" >&2
    exit 2
    ;;
esac

if [[ $faults -gt 0 ]]; then
    echo "$faults fault(s)" >&2
    exit 1
fi
echo "$mode check passed"
