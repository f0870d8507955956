#!/usr/bin/env bash
# Median runs in the real window beside the headless driver, on the same files in the same run.
# The frames are made once; each round then starts a fresh `ombrelux` under Xvfb and openbox,
# adds the files through the "+" dialog, selects the first entry and clicks "Median", and runs a
# fresh `ombrelux_wholerun run` on the same files. Rounds alternate the two, so a machine busy
# with other work slows both alike. Each run starts SETTLE seconds after the one before ended:
# on a virtual machine, memory a process has just freed is still backed by the host and takes
# its first touch several times faster than memory handed back a few seconds later, which is
# what a person's click meets. The window's titles are followed by an X RECORD client
# (titlerecord.py): the X server stamps the click and each title, so none is missed and a late
# reader costs nothing.
#   bench/windowrun.sh BUILD_DIR      RUNS (5), FRAMES (10 JPEG frames of 12 MP), SETTLE (5)
#   PERF_DATA=FILE                    also `perf record -g` of the window around each click,
#                                     into FILE.1, FILE.2, ...
# Prints each round, then the medians of each column: click -> "Done" in seconds, in brackets
# the CPU seconds of all the process's threads by then, and click -> "Processing image: 1". The
# window's click is the button's release as the X server saw it: a button acts when released.
set -euo pipefail

title='KORMIDAX - Ombrelux'

if [ "${1:-}" != --inside ]; then
    build=${1:?usage: bench/windowrun.sh BUILD_DIR}
    build=$(cd "$build" && pwd)
    for file in "$build/ombrelux" "$build/bench/ombrelux_wholerun"; do
        if [ ! -x "$file" ]; then
            echo "windowrun: $file is missing; build the ombrelux and ombrelux_wholerun targets" >&2
            exit 1
        fi
    done
    tools=(xvfb-run xauth xdotool xprop openbox python3)
    [ -z "${PERF_DATA:-}" ] || tools+=(perf)
    for tool in "${tools[@]}"; do
        if ! command -v "$tool" >/dev/null; then
            echo "windowrun: $tool is not installed (tools/setup-deps installs it)" >&2
            exit 1
        fi
    done
    work=$(mktemp -d /tmp/ombrelux-windowrun.XXXXXX)
    trap 'rm -rf "$work"' EXIT
    mkdir "$work/frames" "$work/home"
    mkdir -m 700 "$work/runtime"
    "$build/bench/ombrelux_wholerun" make "$work/frames" "${FRAMES:-10}" jpg
    # A throwaway home: the window must not find or leave settings of its own.
    HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb \
        PERF_DATA=$([ -z "${PERF_DATA:-}" ] || realpath -m "$PERF_DATA") \
        xvfb-run -a -s '-screen 0 1280x1024x24' bash "$0" --inside "$build" "$work"
    exit 0
fi

build=$2
work=$3
recorder=$(dirname "$0")/titlerecord.py
frames=("$work"/frames/frame*.jpg)
runs=${RUNS:-5}
settle=${SETTLE:-5}
ended=$EPOCHREALTIME # when the last run's process ended
log=$work/titles.log
program=
recording=

fail() {
    echo "windowrun: $*" >&2
    [ ! -s "$log" ] || sed 's/^/  recorded: /' "$log" >&2
    exit 1
}

openbox --sm-disable >/dev/null 2>&1 &
wm=$!
cleanup() {
    [ -z "$recording" ] || kill "$recording" 2>/dev/null || true
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    kill "$wm" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done

wait_for() { # pattern seconds: waits until a line of the log matches
    for _ in $(seq $(($2 * 20))); do
        grep -q -- "$1" "$log" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}
cpu_seconds() { # pid: user and system time of all its threads so far
    awk '{ printf "%.2f\n", ($14 + $15) / 100 }' "/proc/$1/stat"
}
settle_down() { # waits until SETTLE seconds have passed since the last run ended
    local left
    left=$(awk -v e="$ended" -v n="$EPOCHREALTIME" -v s="$settle" 'BEGIN { l = e + s - n; printf "%.3f\n", (l > 0 ? l : 0) }')
    sleep "$left"
}
since_click() { # title: seconds from the recorded click to that title
    awk -v t="$1" '$2 == "release" && !p { p = $1 }
        $2 == "title" && index($0, t) && p { printf "%.3f\n", ($1 - p) / 1000; exit }' "$log"
}
dialog_open() { xdotool search --onlyvisible --name '^Open$' >/dev/null 2>&1; }

# One window run; sets `result` to the seconds from the click to the first title and to "Done".
window_run() {
    local window dialog names="" frame first done cpu perf=""
    (cd "$work/frames" && exec "$build/ombrelux") &
    program=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1) || true
    [ -n "$window" ] || fail "no window named '$title' within 20 s"

    # "+" (Command3) sits at 80, 240 logical pixels, 17 square. The dialog opens in the working
    # directory, the frames' folder, and takes several names typed in quotes.
    xdotool mousemove --window "$window" 88 248 click 1
    dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Open$' 2>/dev/null | head -n 1) || true
    [ -n "$dialog" ] || fail "\"+\" opened no dialog named 'Open'"
    for frame in "${frames[@]}"; do
        names+="\"$(basename "$frame")\" "
    done
    xdotool windowfocus --sync "$dialog" type --delay 2 "$names"
    xdotool key Return
    for _ in $(seq 100); do
        dialog_open || break
        sleep 0.1
    done
    ! dialog_open || fail "the dialog did not take the names"

    # Selecting the first entry of List1 (8, 8, 89 wide) shows frame 1, as a person looks at it
    # before stacking. The pointer then rests on "Median" (Command1: 8, 264, 89 by 25), so that
    # only the click itself is timed.
    xdotool mousemove --window "$window" 40 16 click 1
    xdotool mousemove --window "$window" 52 276
    # It ends at "Done", so nothing polls while the run goes on.
    timeout 120 python3 "$recorder" "$title" "[Done]" >"$log" &
    recording=$!
    wait_for '^ready$' 30 || fail "the X server records nothing"
    if [ -n "$PERF_DATA" ]; then
        perf record -q -g -o "$PERF_DATA.$round" -p "$program" >/dev/null 2>&1 &
        perf=$!
    fi
    sleep 1
    settle_down
    cpu=$(cpu_seconds "$program")
    xdotool click 1
    wait "$recording" || fail "no \"Done\" within 120 s"
    recording=
    cpu=$(awk -v a="$cpu" -v b="$(cpu_seconds "$program")" 'BEGIN { printf "%.2f", b - a }')
    if [ -n "$perf" ]; then
        kill -INT "$perf"
        wait "$perf" || true
    fi
    first=$(since_click "[Processing image: 1]")
    done=$(since_click "[Done]")
    [ -n "$first" ] || fail "no click on \"Median\" or no \"Processing image: 1\""
    grep -q "Processing image: ${#frames[@]}]" "$log" || fail "the run did not reach image ${#frames[@]}"
    kill "$program"
    wait "$program" 2>/dev/null || true
    program=
    ended=$EPOCHREALTIME
    result="$done $cpu $first"
}

median() { sort -n | awk 'NF { v[++n] = $1 } END { print v[int((n + 1) / 2)] }'; }
column() { awk -v c="$1" '{ print $c }' | median; }

# Both give: seconds to "Done", CPU seconds of all threads by then, seconds to the first title.
window="" headless=""
row() { printf '%-6s %-26s %-26s %s\n' "$@"; }
pretty() { awk '{ printf "%.3f s (%.2f) %.3f s\n", $1, $2, $3 }'; }
summary() { # results: the medians of each column
    printf '%s %s %s\n' "$(column 1 <<<"$1")" "$(column 2 <<<"$1")" "$(column 3 <<<"$1")"
}
row round "window: Done (CPU) 1st" "headless: Done (CPU) 1st" "window / headless"
for round in $(seq "$runs"); do
    window_run
    settle_down
    h=$("$build/bench/ombrelux_wholerun" run "${frames[@]}")
    ended=$EPOCHREALTIME
    row "$round" "$(pretty <<<"$result")" "$(pretty <<<"$h")" "$(awk -v w="${result%% *}" -v h="${h%% *}" 'BEGIN { printf "%.2fx", w / h }')"
    window+="$result"$'\n'
    headless+="$h"$'\n'
done
w=$(summary "$window")
h=$(summary "$headless")
row median "$(pretty <<<"$w")" "$(pretty <<<"$h")" "$(awk -v w="${w%% *}" -v h="${h%% *}" 'BEGIN { printf "%.2fx", w / h }')"
