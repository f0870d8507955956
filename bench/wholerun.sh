#!/usr/bin/env bash
# Whole median runs, click to "Done", each in a fresh process, beside yardsticks outside the
# program timed on the same files in the same run: djpeg decoding the JPEG frames one after
# another, and the native stacker `yardstick --stack` on the BMP frames.
#   bench/wholerun.sh [BUILD_DIR]     default build-ci; RUNS (5), YARDSTICK (/tmp/yardstick)
# Prints the median of RUNS runs of each. Frames go to a scratch folder under /tmp (about 720 MB
# for 20 BMP frames), removed at the end.
set -euo pipefail
build=${1:-build-ci}
driver=$build/bench/ombrelux_wholerun
runs=${RUNS:-5}
yardstick=${YARDSTICK:-/tmp/yardstick}
[ -x "$yardstick" ] || ../shared/yardstick/build.sh "$yardstick" >/dev/null
work=$(mktemp -d /tmp/ombrelux-wholerun.XXXXXX)
trap 'rm -rf "$work"' EXIT

seconds() { # runs the command, prints its wall time
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
djpeg_all() { for f in "$@"; do djpeg -outfile /dev/null "$f"; done; }

report() { # label, frames..., with the yardstick command chosen by the frames' type
    local label=$1; shift
    local ours=() pinned=() theirs=()
    for _ in $(seq "$runs"); do
        ours+=("$("$driver" run "$@")")
        pinned+=("$(taskset -c 0 "$driver" run "$@")")
        if [[ $1 == *.jpg ]]; then
            theirs+=("$(seconds djpeg_all "$@")")
        else
            theirs+=("$(seconds "$yardstick" --stack "$work/out.bmp" "$@")")
        fi
    done
    local o p t
    o=$(printf '%s\n' "${ours[@]}" | median)
    p=$(printf '%s\n' "${pinned[@]}" | median)
    t=$(printf '%s\n' "${theirs[@]}" | median)
    awk -v l="$label" -v o="$o" -v p="$p" -v t="$t" \
        'BEGIN { printf "%-22s %7.2f s %7.2f s (%.2fx)  %7.2f s (%.2fx)\n", l, t, o, o / t, p, p / o }'
}

printf '%-22s %9s %18s  %s\n' "frames of 12 MP" "yardstick" "Ombrelux (ratio)" "one core (vs two)"
mkdir "$work/jpg" "$work/bmp"
"$driver" make "$work/jpg" 10 jpg
report "10 JPEG (djpeg)" "$work"/jpg/frame*.jpg
rm -rf "$work/jpg"
"$driver" make "$work/bmp" 20 bmp
bmp=("$work"/bmp/frame*.bmp)
for n in 5 10 20; do
    report "$n BMP (yardstick)" "${bmp[@]:0:$n}"
done
