#!/bin/sh
# The gegl command line on a 24-megapixel JPEG: quarvel:filter beside gegl:nop (decoding and
# encoding alone) and GEGL's own gegl:shadows-highlights, in one run. Wall time and peak memory
# of each whole process, best of RUNS (default 3).
#
#   bench/gegl-bench.sh [MODULE_DIR] [RUNS]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
module_dir=${1:-$here/../build/native/gegl-module}
runs=${2:-3}
gegl_own=$(pkg-config --variable=pluginsdir gegl-0.4)
export GEGL_PATH="$module_dir:$gegl_own"
# The grain's seed would otherwise follow the clock.
export QUARVEL_GRAIN_SEED=1

tmp=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-gegl-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT INT TERM
convert "$here/../samples/rocket.jpg" -resize 6000x4000! -quality 92 "$tmp/24mp.jpg"

measure() {
    label=$1
    shift
    best=""
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o "$tmp/time" gegl "$tmp/24mp.jpg" -o "$tmp/out.jpg" -- "$@" >/dev/null 2>&1
        line=$(cat "$tmp/time")
        if [ -z "$best" ] || awk "BEGIN { exit !(${line% *} < ${best% *}) }"; then best=$line; fi
    done
    printf '%-40s %8s s %8s MB\n' "$label" "${best% *}" "$((${best#* } / 1024))"
}

printf '%-40s %10s %11s\n' "6000x4000 JPEG -> JPEG" "wall" "peak"
measure "gegl:nop" gegl:nop
measure "gegl:shadows-highlights shadows=50" gegl:shadows-highlights shadows=50 highlights=-30
measure "quarvel:filter preset=Lift Shadows" quarvel:filter "preset=Lift Shadows"
measure "quarvel:filter everything on" quarvel:filter shadow-amount=30 hilight-amount=20 auto-color=true \
    saturation=10 sh-sharp-amount=100 smooth-amount=50 diffuse-amount=30
