#!/usr/bin/env bash
# Whole median runs, click to "Done", each in a fresh process, beside yardsticks outside the
# program timed on the same files in the same run: djpeg decoding the JPEG frames one after
# another, and the native stacker `yardstick --stack` on the BMP frames.
#   bench/wholerun.sh [BUILD_DIR]     default build-ci; RUNS (5), YARDSTICK (/tmp/yardstick)
# Prints the median of RUNS runs of each: wall time, then in brackets the CPU time of all
# threads, which a machine busy with other work inflates far less. Frames go to a scratch
# folder under /tmp (about 720 MB for 20 BMP frames), removed at the end.
set -euo pipefail
build=${1:-build-ci}
driver=$build/bench/ombrelux_wholerun
runs=${RUNS:-5}
yardstick=${YARDSTICK:-/tmp/yardstick}
[ -x "$yardstick" ] || "$(dirname "$0")/../../shared/yardstick/build.sh" "$yardstick" >/dev/null
work=$(mktemp -d /tmp/ombrelux-wholerun.XXXXXX)
trap 'rm -rf "$work"' EXIT

timed() { # runs the command; prints its wall time and CPU time
    local TIMEFORMAT='%R %U %S' line
    line=$({ time "$@" >/dev/null 2>&1; } 2>&1)
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$line"
}
median() { sort -n | awk 'NF { v[++n] = $1 } END { print v[int((n + 1) / 2)] }'; }
column() { awk -v c="$1" '{ print $c }' | median; }
djpeg_all() { for f in "$@"; do djpeg -outfile /dev/null "$f"; done; }

report() { # label, frames...; the yardstick is chosen by the frames' type
    local label=$1 ours="" pinned="" theirs=""
    shift
    for _ in $(seq "$runs"); do
        ours+="$("$driver" run "$@")"$'\n'
        pinned+="$(taskset -c 0 "$driver" run "$@")"$'\n'
        if [[ $1 == *.jpg ]]; then
            theirs+="$(timed djpeg_all "$@")"$'\n'
        else
            theirs+="$(timed "$yardstick" --stack "$work/out.bmp" "$@")"$'\n'
        fi
    done
    awk -v l="$label" -v tw="$(column 1 <<<"$theirs")" -v tc="$(column 2 <<<"$theirs")" \
        -v ow="$(column 1 <<<"$ours")" -v oc="$(column 2 <<<"$ours")" -v pw="$(column 1 <<<"$pinned")" \
        'BEGIN { printf "%-18s %6.2f s (%5.2f) %6.2f s (%5.2f) %5.2fx %6.2f s %5.2fx\n", l, tw, tc, ow, oc, ow / tw, pw, ow / pw }'
}

printf '%-18s %-16s %-16s %-6s %-8s %s\n' "12 MP frames" "yardstick" "Ombrelux" "ratio" "1 core" "2 vs 1"
mkdir "$work/jpg" "$work/bmp"
"$driver" make "$work/jpg" 10 jpg
report "10 JPEG (djpeg)" "$work"/jpg/frame*.jpg
rm -rf "$work/jpg"
"$driver" make "$work/bmp" 20 bmp
bmp=("$work"/bmp/frame*.bmp)
for n in 5 10 20; do
    report "$n BMP" "${bmp[@]:0:$n}"
done
