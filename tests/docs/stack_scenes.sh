#!/usr/bin/env bash
# docs/ recipes as a user runs them: three scenes (one named with a space) give three medians, byte
# for byte as ImageMagick reads them; a failing scene makes the status non-zero without costing
# the others; the Slurm script stacks its array task's scene. 77 (skipped) without parallel.
#   stack_scenes.sh OMBRELUX_CLI DOCS_DIR
set -euo pipefail
export OMBRELUX_CLI=$1 docs=$2
command -v parallel >/dev/null && command -v convert >/dev/null || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frame() { { printf 'P6\n2 1\n255\n'; printf "$(printf '\\%03o' "${@:2}")"; } >"$1"; } # FILE BYTES...: 2x1 PPM
pixels() { convert "$1" -depth 8 rgb:- | od -An -tu1 | xargs; }
fail() { echo "stack_scenes: $*" >&2; exit 1; }
scenes=(beach "night sky" street)
for k in 0 1 2; do
    dir="$work/scenes/${scenes[k]}"
    mkdir -p "$dir"
    frame "$dir/a.ppm" $((5 + k)) 2 3 4 5 6
    frame "$dir/b.ppm" 9 8 9 10 11 12
    frame "$dir/c.PPM" 4 4 4 4 4 4
    echo notes >"$dir/notes.txt"
    expected[k]="$((5 + k)) 4 4 4 5 6"
done
"$docs/stack-scenes.sh" "$work/scenes" "$work/out" --jobs 2 || fail "three good scenes: status $?"
for k in 0 1 2; do
    got=$(pixels "$work/out/${scenes[k]}.png") || fail "${scenes[k]}.png is no picture"
    [ "$got" = "${expected[k]}" ] || fail "${scenes[k]}.png: $got, expected ${expected[k]}"
done

mkdir "$work/scenes/broken" && echo "not a picture" >"$work/scenes/broken/a.jpg"
frame "$work/scenes/broken/b.ppm" 0 0 0 0 0 0
rm "$work/out"/*.png
if "$docs/stack-scenes.sh" "$work/scenes" "$work/out"; then fail "a failed scene gave status 0"; fi
for k in 0 1 2; do [ -s "$work/out/${scenes[k]}.png" ] || fail "a failed scene cost ${scenes[k]}"; done
[ ! -e "$work/out/broken.png" ] || fail "the failed scene left an output"
# A frame a list cannot hold refuses its scene instead of leaving the frame out.
rm -r "$work/out" "$work/scenes/broken" && mv "$work/scenes/street/b.ppm" "$work/scenes/street/b"$'\n'".ppm"
if "$docs/stack-scenes.sh" "$work/scenes" "$work/out" 2>/dev/null; then fail "a frame left out gave status 0"; fi
[ ! -e "$work/out/street.png" ] && [ -s "$work/out/beach.png" ] || fail "a frame left out: street stacked or beach lost"
! SLURM_ARRAY_TASK_ID=2 "$docs/slurm-stack.sh" "$work/scenes" "$work/out" 2>/dev/null \
    || fail "Slurm: a frame left out gave status 0"
mv "$work/scenes/street/b"$'\n'".ppm" "$work/scenes/street/b.ppm"

rm -r "$work/out"
bash -n "$docs/slurm-stack.sh"
SLURM_ARRAY_TASK_ID=1 "$docs/slurm-stack.sh" "$work/scenes" "$work/out" || fail "Slurm task 1: status $?"
[ "$(ls "$work/out"/*.png)" = "$work/out/night sky.png" ] || fail "Slurm task 1 did not stack just 'night sky'"
[ "$(pixels "$work/out/night sky.png")" = "${expected[1]}" ] || fail "Slurm task 1 stacked wrong pixels"
if SLURM_ARRAY_TASK_ID=3 "$docs/slurm-stack.sh" "$work/scenes" "$work/out" 2>/dev/null; then
    fail "a task past the last scene gave status 0"
fi
