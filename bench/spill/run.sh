#!/usr/bin/env bash
# Times whole median runs from JPEG files through tests/medianprobe, with the peak RssAnon
# sampled every 10 ms and the disk the scratch file takes:
#   run.sh [BUILD] compare COUNT WIDTH HEIGHT BUDGET_MIB   in memory, then spilled under BUDGET_MIB
#   run.sh [BUILD] datalimit COUNT WIDTH HEIGHT LIMIT_MIB  spilled under prlimit --data
# Frames and the scratch folder live under /tmp and are removed afterwards.
set -euo pipefail
build=build-ci
if [[ -d ${1:-} ]]; then build=$1; shift; fi
mode=$1 count=$2 width=$3 height=$4 limit=$5
probe=$build/tests/medianprobe
work=$(mktemp -d /tmp/ombrelux-spill.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/frames" "$work/scratch"
"$build/bench/spill/makeburst" "$work/frames" "$count" "$width" "$height"
frames=("$work"/frames/*.jpg)
cat "${frames[@]}" > /dev/null # into the page cache, like the scratch file

free_kb() { df --output=avail -k "$work/scratch" | tail -1; }

# Runs the command; prints its time, peak RssAnon and the most disk it took.
measure() {
    local before peak=0 disk=0 ticks=0 state=R key value unit
    before=$(free_kb)
    "$@" > "$work/out" &
    local pid=$!
    while [[ $state != Z && -r /proc/$pid/status ]]; do
        while read -r key value unit; do
            [[ $key == State: ]] && state=$value
            [[ $key == RssAnon: ]] && ((value > peak)) && peak=$value
        done < "/proc/$pid/status" 2>/dev/null || true
        if ((ticks++ % 20 == 0)); then
            local used=$((before - $(free_kb)))
            ((used > disk)) && disk=$used
        fi
        sleep 0.01
    done
    wait "$pid"
    echo "  $(sed -n 's/^ms /run ms: /p' "$work/out"), peak RssAnon: $((peak / 1024)) MiB, scratch disk: $((disk / 1024)) MiB"
    grep -q 'Cap:Done|beep|EndWork' "$work/out" || { echo "  run did not complete: $(head -c 300 "$work/out")"; exit 1; }
    sed -n 's/^sha256 //p' "$work/out" > "$work/sha"
}

echo "$count frames of ${width}x$height, $(nproc) cores"
case $mode in
compare)
    echo "in memory:"
    measure "$probe" --scratch "$work/scratch" "${frames[@]}"
    mv "$work/sha" "$work/sha.memory"
    echo "spilled, budget $limit MiB:"
    measure "$probe" --budget "$limit" --scratch "$work/scratch" "${frames[@]}"
    cmp -s "$work/sha" "$work/sha.memory" || { echo "  the spilled result differs"; exit 1; }
    ;;
datalimit)
    echo "spilled under a data limit of $limit MiB:"
    measure prlimit --data=$((limit << 20)) "$probe" --scratch "$work/scratch" "${frames[@]}"
    ;;
esac
[[ -z $(ls -A "$work/scratch") ]] || { echo "files left in the scratch folder"; exit 1; }
