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
pictures=(\( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' -o -iname '*.tif' -o -iname '*.tiff'
    -o -iname '*.bmp' -o -iname '*.ppm' -o -iname '*.webp' -o -iname '*.heic' -o -iname '*.heif' -o -iname '*.dng' \))
refused=0
for scene in "$scenes"/*/; do
    # A list holds one name a line, so a picture whose name holds a newline cannot be listed;
    # leaving it out would change the stack and still report success, so the scene is refused.
    if [ -n "$(find "$scene" -maxdepth 1 -type f "${pictures[@]}" -name '*'$'\n''*' -print -quit)" ]; then
        echo "stack-scenes.sh: not stacked: a picture's name in $scene holds a newline" >&2
        refused=$((refused + 1))
        continue
    fi
    find "$scene" -maxdepth 1 -type f "${pictures[@]}" | LC_ALL=C sort >"$out/$(basename "$scene").list"
done
lists=("$out"/*.list)
if ((${#lists[@]} == 0)); then
    ((refused)) || echo "stack-scenes.sh: no scene folders in $scenes" >&2
    exit 1
fi
# Absolute paths throughout, since a remote job starts in its login's home folder.
status=0
parallel --joblog "$out/jobs.log" "$@" \
    "${OMBRELUX_CLI:-ombrelux-cli}" ${STACK:-median} --quiet -o {.}.png @{} ::: "${lists[@]}" || status=$?
exit $((status + refused))
