#!/bin/sh
# Runs Windows programs under Wine.
#
#   wine-run.sh PROGRAM [ARGUMENTS...]   run PROGRAM; its output and exit
#                                        status pass through unchanged
#   wine-run.sh --start-session DIR      start Wine for the build folder DIR
#                                        and keep it up until --end-session
#   wine-run.sh --end-session DIR        stop what --start-session started
#
# The Wine prefix lives in the build folder (<build>/wineprefix), found as
# the nearest folder above the program that holds CMakeCache.txt; set
# WINEPREFIX to use another one. The prefix is created quietly on first use,
# once even when several tests start at the same time. Wine's own messages
# are off (WINEDEBUG=-all).
#
# Why a session: without one, every program that finds no other Wine process
# running starts the Wine server and its system processes, and those inherit
# the program's output pipes. A test runner then waits for them to go away
# (seconds per test), and a program that starts while they are shutting down
# can die before its first line (status 1, no output). A session holds one
# idle Windows process, started with no pipes of anybody's, so the server
# and the system processes stay up for the whole test run.
set -eu

usage() {
    echo "usage: $0 PROGRAM [ARGUMENTS...] | --start-session DIR | --end-session DIR" >&2
    exit 2
}
[ $# -ge 1 ] || usage
mode=run
case $1 in
    --start-session|--end-session)
        [ $# -eq 2 ] || usage
        mode=${1#--}
        start=$2
        ;;
    *)
        start=$(dirname "$1")
        ;;
esac

WINE=${WINE:-/usr/lib/wine/wine64}
if [ ! -x "$WINE" ]; then
    WINE=$(command -v wine64 || command -v wine || true)
fi
if [ -z "$WINE" ] || [ ! -x "$WINE" ]; then
    echo "wine-run.sh: no wine64 found (install the Debian package wine64)" >&2
    exit 127
fi

WINESERVER=$(dirname "$WINE")/wineserver

if [ -z "${WINEPREFIX:-}" ]; then
    dir=$(cd "$start" && pwd)
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
            if [ -x "$WINESERVER" ]; then
                "$WINESERVER" -w >/dev/null 2>&1 || true
            fi
        fi
    ) 9>"$WINEPREFIX.lock"
fi

session=$WINEPREFIX.session

case $mode in
start-session)
    if [ -f "$session" ] && kill -0 "$(cat "$session")" 2>/dev/null; then
        exit 0
    fi
    # The idle process: cmd.exe reading a pipe nobody writes to, in its own
    # process group so that --end-session can take it down with its reader.
    # The sleep bounds a session that is never ended (an interrupted run).
    setsid sh -c 'echo $$ >"$1"; sleep 14400 | exec "$2" cmd.exe' wine-session "$session" "$WINE" \
        </dev/null >/dev/null 2>&1 &
    # Wait until Wine answers, so the first test finds it up.
    tries=0
    until [ -s "$session" ] && "$WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ $tries -ge 30 ]; then
            echo "wine-run.sh: Wine did not start for $WINEPREFIX" >&2
            exit 1
        fi
        sleep 1
    done
    exit 0
    ;;
end-session)
    if [ -f "$session" ]; then
        kill -- "-$(cat "$session")" 2>/dev/null || true
        rm -f "$session"
    fi
    if [ -x "$WINESERVER" ]; then
        "$WINESERVER" -k >/dev/null 2>&1 || true
    fi
    exit 0
    ;;
esac

exec "$WINE" "$@"
