#!/usr/bin/env bash
# One hand-held burst three ways, each step a fresh process: ombrelux-cli median unaligned,
# ombrelux-cli median --align, and align_image_stack (hugin-tools) then ombrelux-cli median of its
# TIFFs. Prints a markdown table: wall and CPU time, PSNR against clean.png over the area every
# frame covers under the true transforms (the interior, where every frame gives a sample), and the
# alignment's corner error. align_image_stack gives no homography, so both aligners are measured
# by their residual: each aligned frame is aligned by the engine to the frame warped with its true
# transform (alignaccuracy --residual); the engine's direct corner error is in brackets.
#   bench/handheld/vs-hugin.sh DIR [BUILD_DIR]     BUILD_DIR defaults to build-ci (Release)
# A DIR without transforms.txt is first filled by makeburst-handheld with COUNT (10) JPEG frames
# of SIZE (4000x3000). HUGIN_OPTIONS (default: --align-to-first -m -i) and LABEL (the table's
# first heading) override the defaults. Results and hugin's frames go to a scratch folder in /tmp.
set -euo pipefail
dir=$1
build=${2:-build-ci}
tools=$build/bench/handheld
cli=$build/ombrelux-cli
# Every frame to frame 0 like the engine, and zoom (-m) and shift (-i) besides the turn, the
# motion the burst has; the default (-a only, consecutive pairs) leaves errors of several pixels.
hugin=(${HUGIN_OPTIONS:---align-to-first -m -i})
for tool in "$cli" "$tools/alignaccuracy" "$tools/psnr" "$tools/makeburst-handheld"; do
    [ -x "$tool" ] || { echo "vs-hugin: build $tool first" >&2; exit 1; }
done
command -v align_image_stack >/dev/null || { echo "vs-hugin: needs align_image_stack (hugin-tools)" >&2; exit 1; }
[ -f "$dir/transforms.txt" ] \
    || "$tools/makeburst-handheld" --count "${COUNT:-10}" --size "${SIZE:-4000x3000}" --format jpg "$dir"
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
rms() { sed -n 's/^RMS corner error over frames [0-9-]*: \([0-9.]*\) px.*/\1/p'; }

unaligned=$(timed "$cli" median --quiet -o "$work/unaligned.bmp" "${frames[@]}")
aligned=$(timed "$cli" median --quiet --align -o "$work/aligned.bmp" "${frames[@]}")
ais=$(timed align_image_stack -a "$work/hugin_" "${hugin[@]}" "${frames[@]}")
ais_median=$(timed "$cli" median --quiet -o "$work/hugin.bmp" "$work"/hugin_*.tif)
"$tools/alignaccuracy" "$dir" --truth-median "$work/truth.bmp"
ours_residual=$("$tools/alignaccuracy" "$dir" --residual | rms)
ours_direct=$("$tools/alignaccuracy" "$dir" | rms)
hugin_residual=$("$tools/alignaccuracy" "$dir" --residual "$work"/hugin_*.tif | rms)

size=$(file -b "${frames[0]}" | grep -o '[0-9]\+x[0-9]\+' | tail -1)
echo "| ${LABEL:-${#frames[@]} frames of $size} | wall s | CPU s | PSNR dB, interior | corner error RMS px |"
echo "|---|---:|---:|---:|---:|"
echo "| ombrelux-cli median, unaligned | ${unaligned% *} | ${unaligned#* } | $(psnr "$work/unaligned.bmp") | |"
echo "| ombrelux-cli median --align | ${aligned% *} | ${aligned#* } | $(psnr "$work/aligned.bmp") | $ours_residual ($ours_direct) |"
awk -v o="${hugin[*]}" -v aw="${ais% *}" -v ac="${ais#* }" -v mw="${ais_median% *}" -v mc="${ais_median#* }" \
    -v p="$(psnr "$work/hugin.bmp")" -v r="$hugin_residual" \
    'BEGIN { printf "| align_image_stack -a %s (%.2f s), then median | %.2f | %.2f | %s | %s |\n", o, aw, aw + mw, ac + mc, p, r }'
echo "| median of the frames warped with the true transforms | | | $(psnr "$work/truth.bmp") | 0 |"
