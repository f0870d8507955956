#!/usr/bin/env bash
# Starts the real program under a throwaway X server: its window must carry exactly the
# caption, open and cancel the file dialog, end on Alt+X, and leave no settings file behind.
# Exit 77 (skipped) when the X tools are missing.
set -euo pipefail

title='KORMIDAX - Ombrelux'

if [ "${1:-}" != --inside ]; then
    program=${1:?usage: smoke_title.sh PROGRAM}
    for tool in xvfb-run xauth xdotool xprop; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed (tools/setup-deps installs it)"
            exit 77
        fi
    done
    home=$(mktemp -d)
    trap 'rm -rf "$home"' EXIT
    # A settings file would land here; the offscreen platform must not leak in from CTest.
    HOME=$home XDG_CONFIG_HOME=$home/.config QT_QPA_PLATFORM=xcb \
        xvfb-run -a bash "$0" --inside "$program"
    found=$(find "$home" -name QtProject.conf)
    if [ -n "$found" ]; then
        echo "FAIL: the program wrote $found"
        exit 1
    fi
    echo "PASS: title, dialog, exit and no settings file"
    exit 0
fi

program=$2
"$program" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

# Xvfb has no window manager: search the window tree by name, once the window is mapped.
window=$(timeout 20 xdotool search --sync --onlyvisible --name "^${title}\$" | head -n 1) || true
if [ -z "$window" ]; then
    echo "FAIL: no window named '$title' within 20 s; named windows:"
    xwininfo -root -tree 2>/dev/null | grep '"' || true
    exit 1
fi

for property in WM_NAME _NET_WM_NAME; do
    # xprop prints: WM_NAME(STRING) = "KORMIDAX - Ombrelux"
    value=$(xprop -id "$window" "$property" | sed -n 's/^[^=]* = "\(.*\)"$/\1/p' || true)
    if [ "$value" != "$title" ]; then
        echo "FAIL: $property is '$value', expected '$title'"
        exit 1
    fi
done

# "+" (Command3) sits at 80, 240 logical pixels, 17 square; the dialog's state would be
# saved when it is destroyed, which ending the program must not do.
xdotool mousemove --window "$window" 88 248 click 1
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Open$' | head -n 1) || true
if [ -z "$dialog" ]; then
    echo "FAIL: \"+\" opened no dialog named 'Open'"
    exit 1
fi
xdotool windowfocus --sync "$dialog" key Escape
for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^Open$' >/dev/null || break
    sleep 0.1
done
if xdotool search --onlyvisible --name '^Open$' >/dev/null; then
    echo "FAIL: Escape did not close the dialog"
    exit 1
fi

xdotool windowfocus --sync "$window" key alt+x
if ! timeout 10 tail --pid="$pid" -f /dev/null; then
    echo "FAIL: Alt+X did not end the program within 10 s"
    exit 1
fi
trap - EXIT
status=0
wait "$pid" || status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: the program exited with status $status"
    exit 1
fi
