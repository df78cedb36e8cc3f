#!/bin/sh
# Runs a command (a Windows program under Wine) with a display: when DISPLAY is unset it starts a
# private Xvfb server for the command and stops it afterwards. When WINEPREFIX names a prefix that
# does not exist yet, it is made first, once, under a lock, since Wine's first start takes a while
# and two tests must not make the same prefix at the same time.
set -u
WINEDEBUG=${WINEDEBUG:--all}
export WINEDEBUG

if [ -n "${WINEPREFIX:-}" ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            wineboot -i >/dev/null 2>&1
            wineserver -w
        fi
    ) 9>"$WINEPREFIX.lock"
fi

xvfb_pid=
display_file=
if [ -z "${DISPLAY:-}" ]; then
    display_file=$(mktemp)
    # Xvfb picks a free display itself and writes its number to the descriptor.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    tries=0
    while [ ! -s "$display_file" ] && [ $tries -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    if [ ! -s "$display_file" ]; then
        echo "run_with_xvfb.sh: Xvfb did not start" >&2
        kill "$xvfb_pid" 2>/dev/null
        rm -f "$display_file"
        exit 1
    fi
    DISPLAY=:$(head -n 1 "$display_file")
    export DISPLAY
fi

"$@"
status=$?

if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    rm -f "$display_file"
fi
exit $status
