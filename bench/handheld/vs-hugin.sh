#!/usr/bin/env bash
# One hand-held burst three ways, each step a fresh process: ombrelux-cli median unaligned,
# ombrelux-cli median --align, and align_image_stack (hugin-tools) then ombrelux-cli median of its
# TIFFs. Prints a markdown table: wall and CPU time, PSNR against clean.png over the area every
# frame covers under the true transforms (the interior, where every frame gives a sample), and the
# alignment's corner error. align_image_stack gives no homography, so both aligners are measured
# by their residual: each aligned frame is aligned by the engine to the frame warped with its true
# transform (alignaccuracy --residual); the engine's direct corner error is in parentheses.
#   bench/handheld/vs-hugin.sh DIR [BUILD_DIR]     BUILD_DIR defaults to the tree's build-ci
# A DIR without transforms.txt is first filled by makeburst-handheld with COUNT (10) JPEG frames
# of SIZE (4000x3000) from SEEDS (1), of SCENE (plain, parallax or lens; plain). Several seeds, as SEEDS="1 2 3", give one burst each in
# DIR/seed-N and one table each, the same options throughout: one burst alone can flatter either
# aligner. HUGIN_OPTIONS (align_image_stack's options besides -a, chosen below) and
# LABEL (the table's first heading) override the defaults. Results and hugin's frames go to a
# scratch folder in /tmp, removed at the end.
set -euo pipefail
dir=$1
build=${2:-$(dirname "$0")/../../build-ci}
seeds=(${SEEDS:-1})
if ((${#seeds[@]} > 1)); then
    for seed in "${seeds[@]}"; do
        LABEL="${LABEL:+$LABEL, }seed $seed" SEEDS=$seed "$0" "$dir/seed-$seed" "$build"
        echo
    done
    exit 0
fi
tools=$build/bench/handheld
cli=$build/ombrelux-cli
for tool in "$cli" "$tools/alignaccuracy" "$tools/psnr" "$tools/makeburst-handheld"; do
    [ -x "$tool" ] || { echo "vs-hugin: build $tool first" >&2; exit 1; }
done
command -v align_image_stack >/dev/null || { echo "vs-hugin: needs align_image_stack (hugin-tools)" >&2; exit 1; }
[ -f "$dir/transforms.txt" ] \
    || "$tools/makeburst-handheld" --count "${COUNT:-10}" --size "${SIZE:-4000x3000}" --format jpg --seed "${seeds[0]}" \
           --scene "${SCENE:-plain}" "$dir"
# Every frame to frame 0 like the engine; zoom (-m) and shift (-i) besides the turn, the motion
# the burst has (-a alone, consecutive pairs, leaves several pixels); and its control points
# found on a copy of about the engine's 1200 px, never finer than its default -s 1: at 12 MP
# with -s 1 its correlation search misses frames turned by 2 degrees and zoomed by 1-3 %.
size=$(file -b "$dir/clean.png" | grep -o '[0-9]* x [0-9]*' | tr -d ' ')
long=$(awk -F x '{ print ($1 > $2 ? $1 : $2) }' <<<"$size")
scale=$(awk -v l="$long" 'BEGIN { s = int(log(l / 1200) / log(2) + 0.5); print s < 1 ? 1 : s }')
hugin=(${HUGIN_OPTIONS:---align-to-first -m -i -s $scale})
frames=()
while read -r name _; do
    [[ $name == \#* ]] || frames+=("$dir/$name")
done <"$dir/transforms.txt"
work=$(mktemp -d /tmp/ombrelux-vs-hugin.XXXXXX)
trap 'rm -rf "$work"' EXIT

timed() { # runs the command quietly; prints its wall time and CPU time in seconds
    local TIMEFORMAT='%R %U %S' line
    line=$({ time "$@" >/dev/null 2>&1; } 2>&1) || { echo "vs-hugin: failed: $*" >&2; exit 1; }
    awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' <<<"$line"
}
psnr() { "$tools/psnr" "$dir/clean.png" "$1" --interior-of "$dir"; }
# RMS of a corner error report, and how many frames it could not measure.
rms() {
    awk '/not aligned/ { ++failed } /^RMS corner error/ && match($0, /: [0-9.]+ px/) { rms = substr($0, RSTART + 2, RLENGTH - 5) }
         END { printf "%s%s", rms, failed ? sprintf(", %d not measurable", failed) : "" }'
}

unaligned=$(timed "$cli" median --quiet -o "$work/unaligned.bmp" "${frames[@]}")
aligned=$(timed "$cli" median --quiet --align -o "$work/aligned.bmp" "${frames[@]}")
global=$(timed "$cli" median --quiet --align=global -o "$work/global.bmp" "${frames[@]}")
ais=$(timed align_image_stack -a "$work/hugin_" "${hugin[@]}" "${frames[@]}")
ais_median=$(timed "$cli" median --quiet -o "$work/hugin.bmp" "$work"/hugin_*.tif)
"$tools/alignaccuracy" "$dir" --truth-median "$work/truth.bmp"
# A frame an aligner got too wrong to measure makes alignaccuracy fail; the table says how many.
ours_residual=$({ "$tools/alignaccuracy" "$dir" --residual || :; } | rms)
ours_direct=$({ "$tools/alignaccuracy" "$dir" || :; } | rms)
hugin_residual=$({ "$tools/alignaccuracy" "$dir" --residual "$work"/hugin_*.tif || :; } | rms)

echo "| ${LABEL:-${#frames[@]} frames of $size} | wall s | CPU s | PSNR dB, interior | corner error RMS px |"
echo "|---|---:|---:|---:|---:|"
echo "| ombrelux-cli median, unaligned | ${unaligned% *} | ${unaligned#* } | $(psnr "$work/unaligned.bmp") | |"
echo "| ombrelux-cli median --align=global | ${global% *} | ${global#* } | $(psnr "$work/global.bmp") | $ours_residual ($ours_direct) |"
echo "| ombrelux-cli median --align (global + local) | ${aligned% *} | ${aligned#* } | $(psnr "$work/aligned.bmp") | |"
awk -v o="${hugin[*]}" -v aw="${ais% *}" -v ac="${ais#* }" -v mw="${ais_median% *}" -v mc="${ais_median#* }" \
    -v p="$(psnr "$work/hugin.bmp")" -v r="$hugin_residual" \
    'BEGIN { printf "| align_image_stack -a %s (%.2f s), then median | %.2f | %.2f | %s | %s |\n", o, aw, aw + mw, ac + mc, p, r }'
echo "| median of the frames warped with the true transforms | | | $(psnr "$work/truth.bmp") | 0 |"
awk -v o="${ours_residual%%,*}" -v h="${hugin_residual%%,*}" \
    'BEGIN { if (o > 0 && h > 0) printf "\nalign_image_stack corner error / ombrelux-cli --align: %.1f\n", h / o }'
