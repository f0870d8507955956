#!/usr/bin/env bash
# Under a real window manager, a name typed into the open dialog and confirmed with Enter
# while its completion list shows must not cost the next click: one click on "+" opens the
# dialog again, one click on "Ombrelux" runs it. Exit 77 (skipped) when a tool is missing.
set -euo pipefail

title='KORMIDAX - Ombrelux'

if [ "${1:-}" != --inside ]; then
    program=${1:?usage: smoke_dialog_click.sh PROGRAM}
    for tool in xvfb-run xauth xdotool xprop openbox; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed (tools/setup-deps installs it)"
            exit 77
        fi
    done
    home=$(mktemp -d)
    trap 'rm -rf "$home"' EXIT
    HOME=$home XDG_CONFIG_HOME=$home/.config QT_QPA_PLATFORM=xcb \
        xvfb-run -a bash "$0" --inside "$program" "$home"
    exit 0
fi

program=$2
folder=$3
# A 2x1 24-bit BMP: one red and one green pixel, rows padded to 4 bytes.
printf 'BM\x3e\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x02\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0\x08\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0\0\0\xff\0\xff\0\0\0' \
    >"$folder/picture.bmp"

openbox --sm-disable >/dev/null 2>&1 &
wm=$!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
"$program" &
pid=$!
trap 'kill "$pid" "$wm" 2>/dev/null || true' EXIT

window=$(timeout 20 xdotool search --sync --onlyvisible --name "^${title}\$" | head -n 1) || true
if [ -z "$window" ]; then
    echo "FAIL: no window named '$title' within 20 s"
    exit 1
fi

open_dialog() { # one click on "+" (80, 240 logical pixels, 17 square); prints the dialog
    xdotool mousemove --window "$window" 88 248 click 1
    timeout 5 xdotool search --sync --onlyvisible --name '^Open$' | head -n 1 || true
}

wait_closed() {
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name '^Open$' >/dev/null || return 0
        sleep 0.1
    done
    echo "FAIL: $1 did not close the dialog"
    exit 1
}

dialog=$(open_dialog)
if [ -z "$dialog" ]; then
    echo "FAIL: \"+\" opened no dialog named 'Open'"
    exit 1
fi
xdotool windowfocus --sync "$dialog" type --delay 20 "$folder/picture.bmp"
# Long enough for the completion list to show, as it does when someone types and looks.
sleep 1
xdotool key Return
wait_closed Enter

dialog=$(open_dialog)
if [ -z "$dialog" ]; then
    echo "FAIL: the first click on \"+\" after Enter in the dialog was lost"
    exit 1
fi
xdotool windowfocus --sync "$dialog" key Escape
wait_closed Escape

# "Ombrelux" (Command7) sits at 8, 328, 89 by 25.
xdotool mousemove --window "$window" 52 340 click 1
for _ in $(seq 50); do
    [ "$(xdotool getwindowname "$window")" = "$title - [Done]" ] && break
    sleep 0.1
done
name=$(xdotool getwindowname "$window")
if [ "$name" != "$title - [Done]" ]; then
    echo "FAIL: the first click on \"Ombrelux\" after the dialog was lost (title '$name')"
    exit 1
fi
echo "PASS: every first click after the dialog acts"
