#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh PROGRAM [ARGUMENTS...]
#
# The Wine prefix lives in the build folder (<build>/wineprefix), found as
# the nearest folder above the program that holds CMakeCache.txt; set
# WINEPREFIX to use another one. The prefix is created quietly on first use,
# once even when several tests start at the same time. Wine's own messages
# are off (WINEDEBUG=-all); the program's output and exit status pass
# through unchanged.
set -eu

if [ $# -lt 1 ]; then
    echo "usage: $0 PROGRAM [ARGUMENTS...]" >&2
    exit 2
fi

WINE=${WINE:-/usr/lib/wine/wine64}
if [ ! -x "$WINE" ]; then
    WINE=$(command -v wine64 || command -v wine || true)
fi
if [ -z "$WINE" ] || [ ! -x "$WINE" ]; then
    echo "wine-run.sh: no wine64 found (install the Debian package wine64)" >&2
    exit 127
fi

if [ -z "${WINEPREFIX:-}" ]; then
    dir=$(cd "$(dirname "$1")" && pwd)
    build=""
    while [ "$dir" != "/" ]; do
        if [ -f "$dir/CMakeCache.txt" ]; then
            build=$dir
            break
        fi
        dir=$(dirname "$dir")
    done
    WINEPREFIX=${build:-$PWD}/wineprefix
fi
export WINEPREFIX
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs in a prefix that no person sees.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine needs no display for console programs.
unset DISPLAY WAYLAND_DISPLAY 2>/dev/null || true

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    (
        # One creator at a time; the others wait and find the prefix made.
        if command -v flock >/dev/null 2>&1; then
            flock 9
        fi
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            "$WINE" wineboot --init >/dev/null 2>&1 || true
            WINESERVER=$(dirname "$WINE")/wineserver
            if [ -x "$WINESERVER" ]; then
                "$WINESERVER" -w >/dev/null 2>&1 || true
            fi
        fi
    ) 9>"$WINEPREFIX.lock"
fi

exec "$WINE" "$@"
