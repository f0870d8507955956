#!/usr/bin/env bash
#SBATCH --job-name=ombrelux-stack
#SBATCH --cpus-per-task=4
#SBATCH --mem=8G
#SBATCH --output=ombrelux-stack-%A_%a.log
# One scene per task of a Slurm job array, the scenes being the folders of SCENES in sorted order;
# task i stacks the i-th (from 0) into OUT/NAME.png through the list OUT/NAME.list:
#   n=$(find SCENES -mindepth 1 -maxdepth 1 -type d | wc -l)
#   sbatch --array=0-$((n - 1)) docs/slurm-stack.sh SCENES OUT
# SCENES and OUT must be on a file system every node sees. OMBRELUX_CLI and STACK as for
# docs/stack-scenes.sh; a failed scene fails its task alone (sacct lists which).
set -euo pipefail
(($# == 2)) || { echo "usage: slurm-stack.sh SCENES OUT" >&2; exit 2; }
: "${SLURM_ARRAY_TASK_ID:?submit with sbatch --array}"
mapfile -t scenes < <(find "$(realpath "$1")" -mindepth 1 -maxdepth 1 -type d | LC_ALL=C sort)
scene=${scenes[SLURM_ARRAY_TASK_ID]:?no scene for task $SLURM_ARRAY_TASK_ID}
out=$(realpath -m "$2")
list=$out/$(basename "$scene").list
mkdir -p "$out"
pictures=(\( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' -o -iname '*.tif' -o -iname '*.tiff'
    -o -iname '*.bmp' -o -iname '*.ppm' -o -iname '*.webp' -o -iname '*.heic' -o -iname '*.heif' -o -iname '*.dng' \))
# As in docs/stack-scenes.sh: a picture a list cannot hold refuses the scene, never drops a frame.
if [ -n "$(find "$scene" -maxdepth 1 -type f "${pictures[@]}" -name '*'$'\n''*' -print -quit)" ]; then
    echo "slurm-stack.sh: not stacked: a picture's name in $scene holds a newline" >&2
    exit 1
fi
find "$scene" -maxdepth 1 -type f "${pictures[@]}" | LC_ALL=C sort >"$list"
# The tool sizes its threads from the CPUs Slurm binds the task to.
exec "${OMBRELUX_CLI:-ombrelux-cli}" ${STACK:-median} --quiet -o "${list%.list}.png" "@$list"
