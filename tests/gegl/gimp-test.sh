#!/usr/bin/env bash
# GIMP 2.10 under Xvfb finds quarvel:filter where install-gegl puts it, with no environment
# variable naming GEGL's folders, lists it in Tools > GEGL Operation and renders its on-canvas
# preview. Exit 77 (skipped) without GIMP, Xvfb, xdotool or ImageMagick.
#
#   gimp-test.sh MODULE PRESETS PHOTO WORK
# The clicks are screen positions in a 1600x1000 screen with GIMP's fresh configuration on
# Debian 12's GIMP 2.10, where the operation is the 13th of the tool's list. The screenshots
# stay in WORK.
set -uo pipefail

module=$1 presets=$2 photo=$3 work=$4
for tool in gimp Xvfb xdotool import compare; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
case "$(gimp --version)" in *" 2.10."*) ;; *) echo "SKIP: the clicks are for GIMP 2.10"; exit 77 ;; esac

rm -rf "$work" && mkdir -p "$work/data/gegl-0.4/plug-ins/quarvel" "$work/config" && cd "$work" || exit 1
cp "$module" data/gegl-0.4/plug-ins/quarvel/ && cp -r "$presets" data/gegl-0.4/plug-ins/quarvel/Presets
unset GEGL_PATH

Xvfb -displayfd 3 -screen 0 1600x1000x24 3>display.txt >xvfb.log 2>&1 &
xvfb=$!
gimp_pid=
cleanup() {
    [ -n "$gimp_pid" ] && kill "$gimp_pid" 2>/dev/null
    kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT
for _ in $(seq 50); do [ -s display.txt ] && break; sleep 0.1; done
export DISPLAY=":$(cat display.txt)"

XDG_DATA_HOME="$work/data" GIMP2_DIRECTORY="$work/config" gimp -n -s -d -f "$photo" >gimp.log 2>&1 &
gimp_pid=$!
window=
for _ in $(seq 120); do
    window=$(xdotool search --name "GIMP$" 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.5
done
[ -n "$window" ] || { echo "FAIL: no GIMP window"; exit 1; }
sleep 3
grep -q "plug-ins/quarvel/quarvel.so" "/proc/$gimp_pid/maps" || { echo "FAIL: GIMP did not load the module"; exit 1; }

click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-2}"; }
shot() { import -window root "$1"; }
canvas() { convert "$1" -crop 500x300+420+320 +repage "$2"; }

click 563 112 1.5 # Tools
click 632 266 3 # GEGL Operation...
dialog=$(xdotool search --name "^GEGL Operation$" | head -1)
[ -n "$dialog" ] || { echo "FAIL: no GEGL Operation dialog"; exit 1; }
click 631 224 2 # the operation list
shot list.png
click 544 572 4 # Quarvel (quarvel:filter)
xdotool windowmove "$dialog" 1228 60
sleep 2
shot chosen.png
click 1507 267 3 # Shadow Amount, about 40
click 1277 290 3 # Shadow Level, about 50
click 1242 560 3 # Auto Color Balance
shot applied.png
click 1512 779 4 # Split view
shot split.png

canvas chosen.png before.png
canvas applied.png after.png
changed=$(compare -metric AE before.png after.png null: 2>&1)
echo "canvas pixels changed by the preview: $changed"
[ "${changed%% *}" -gt 10000 ] 2>/dev/null || { echo "FAIL: the preview did not change the canvas"; exit 1; }
grep -q "quarvel:filter" gimp.log && { echo "FAIL: the operation warned in GIMP"; grep quarvel gimp.log; exit 1; }
echo "GIMP checks passed; screenshots in $work"
