#!/usr/bin/env bash
# Stacks a folder per scene with GNU parallel: SCENES/beach/*.jpg gives OUT/beach.png. Each job is
# one ombrelux-cli process reading its frames from one @FILE list (OUT/beach.list), so names with
# spaces or glob characters reach it as they are and a scene of thousands of frames never meets
# the argument limit. Every scene is tried; the status is non-zero when any failed, and
# OUT/jobs.log says which (parallel's job log, with each job's exit value).
#   docs/stack-scenes.sh SCENES OUT [PARALLEL_OPTION...]
# Options go to parallel as given: --jobs 2, or --sshlogin 4/alpha,4/beta,: to spread the jobs over
# machines (":" is this one) that see SCENES and OUT at the same paths. OMBRELUX_CLI names the
# program (default ombrelux-cli on the PATH), STACK its options (default median).
set -euo pipefail
(($# >= 2)) || { echo "usage: stack-scenes.sh SCENES OUT [PARALLEL_OPTION...]" >&2; exit 2; }
scenes=$(realpath "$1")
out=$(realpath -m "$2")
shift 2
shopt -s nullglob
mkdir -p "$out"
rm -f "$out"/*.list
for scene in "$scenes"/*/; do
    # A name with a newline would split across two lines of the list.
    find "$scene" -maxdepth 1 -type f ! -name '*'$'\n''*' \( -iname '*.jpg' -o -iname '*.jpeg' \
        -o -iname '*.png' -o -iname '*.tif' -o -iname '*.tiff' -o -iname '*.bmp' -o -iname '*.ppm' \
        -o -iname '*.webp' -o -iname '*.heic' -o -iname '*.heif' -o -iname '*.dng' \) \
        | LC_ALL=C sort >"$out/$(basename "$scene").list"
done
lists=("$out"/*.list)
((${#lists[@]})) || { echo "stack-scenes.sh: no scene folders in $scenes" >&2; exit 1; }
# Absolute paths throughout, since a remote job starts in its login's home folder.
parallel --joblog "$out/jobs.log" "$@" \
    "${OMBRELUX_CLI:-ombrelux-cli}" ${STACK:-median} --quiet -o {.}.png @{} ::: "${lists[@]}"
