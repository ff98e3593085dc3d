#!/usr/bin/env bash
# quarvel:filter through the gegl command line against quarvel-host: the same bytes for every
# bundled preset and for everything on, on RGB, RGBA and JPEG photos; the 16-bit rule on a 16-bit
# PNG; and bad input that must warn, never crash, and never lose the image.
#
#   gegl-cli-test.sh GEGL QUARVEL_HOST MODULE_DIR GEGL_OWN_DIR SAMPLES PRESETS WORK
set -uo pipefail

gegl_bin=$1 host=$2 module_dir=$3 gegl_own=$4 samples=$5 presets=$6 work=$7
# GEGL_PATH replaces GEGL's own folders, so they are named too; nothing from the user's folders.
export GEGL_PATH="$module_dir:$gegl_own"
# Grain is seeded from the clock; both sides get the same seed.
export QUARVEL_GRAIN_SEED=20260101
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Decoded samples, so that PNG writers' choices (depth, chunks) do not count.
# gegl's PNG carry no sRGB chunk, which ImageMagick reads as linear: name the space, convert nothing.
pixels() { convert "$1" -set colorspace sRGB -depth "${2:-8}" rgba:-; }
same_pixels() { cmp -s <(pixels "$1" "${3:-8}") <(pixels "$2" "${3:-8}"); }

# NAME=VALUE as quarvel-host takes it -> name=value as the operation does.
property() {
    local name=${1%%=*} value=${1#*=}
    case "$name=$value" in
    SharpMethod=0) value=normal ;;
    SharpMethod=1) value=highlight-shadow ;;
    AutoColor=* | AutoExposure=* | Monochromatic=* | *Enable=*) [ "$value" = 0 ] && value=false || value=true ;;
    esac
    echo "$(echo "$name" | sed 's/\([a-z]\)\([A-Z]\)/\1-\2/g' | tr 'A-Z' 'a-z')=$value"
}

everything=(ShadowAmount=30 HilightAmount=20 ShadowClip=0.1 HilightClip=0.25 AutoColor=1 AutoExposure=1
    Gamma=10 Contrast=20 Density=5 Saturation=10 Monochromatic=0 SharpMethod=1 ShSharpAmount=100
    ShSharpRadius=1.5 HiSharpAmount=80 HiSharpRadius=0.7 SmoothAmount=50 SmoothRadius=1.2 DiffuseAmount=30
    DiffuseRadius=5 DiffuseTone=20 GrainAmount=3)
everything_sets=() everything_properties=()
for s in "${everything[@]}"; do
    everything_sets+=(--set "$s")
    everything_properties+=("$(property "$s")")
done

# Same bytes as quarvel-host: INPUT LABEL [--preset FILE | everything]. GEGL decodes JPEG with
# other choices than quarvel-host (and ImageMagick) do, so the host gets GEGL's own decoding of
# a JPEG, as an 8-bit PNG.
compare_run() {
    local input=$1 label=$2 mode=$3 preset=${4:-}
    local host_input=$input
    case "$input" in *.jpg) host_input="$(basename "${input%.*}").decoded.png" ;; esac
    local g="$label.gegl.png" h="$label.host.png"
    if [ "$mode" = preset ]; then
        gegl "$input" -o "$g" -- quarvel:filter preset="$preset" 2>"$label.log" \
            && "$host" -q --preset "$preset" "$host_input" "$h" || { fail "$label: a run failed"; cat "$label.log"; return; }
    else
        gegl "$input" -o "$g" -- quarvel:filter "${everything_properties[@]}" 2>"$label.log" \
            && "$host" -q "${everything_sets[@]}" "$host_input" "$h" || { fail "$label: a run failed"; cat "$label.log"; return; }
    fi
    same_pixels "$g" "$h" || fail "$label: gegl and quarvel-host differ"
    same_pixels "$g" "$input" && fail "$label: the image did not change"
    grep -qE "quarvel:filter|Error" "$label.log" && { fail "$label: warned"; cat "$label.log"; }
}

gegl() { "$gegl_bin" "$@"; }

# An RGBA photo whose transparency runs from clear to opaque, and a 16-bit one with real low bits.
convert "$samples/chelsea.png" \( -size 451x300 gradient:black-white \) -alpha off -compose CopyOpacity \
    -composite rgba.png
convert "$samples/coffee.png" -depth 16 -attenuate 0.3 +noise Uniform -define png:bit-depth=16 deep.png

gegl "$samples/rocket.jpg" -o rocket.gegl16.png -- gegl:nop 2>/dev/null
convert rocket.gegl16.png -set colorspace sRGB -depth 8 rocket.decoded.png

inputs=("$samples/chelsea.png" "$samples/rocket.jpg" rgba.png)
for input in "${inputs[@]}"; do
    stem=$(basename "${input%.*}")
    for preset in "$presets"/*.qvp; do
        name=$(basename "$preset" .qvp)
        compare_run "$input" "$stem-${name// /_}" preset "$preset"
    done
    compare_run "$input" "$stem-everything" everything
done
# Transparency comes back as it went in.
cmp -s <(convert rgba-everything.gegl.png -alpha extract -depth 8 gray:-) \
    <(convert rgba.png -alpha extract -depth 8 gray:-) || fail "rgba: transparency changed"

# 16 bits: the host's scale in and out, so quarvel-host's 16-bit output is the reference.
gegl deep.png -o deep.gegl.png -- quarvel:filter "${everything_properties[@]}" 2>deep.log
"$host" -q "${everything_sets[@]}" deep.png deep.host.png
[ "$(identify -format %z deep.gegl.png)" = 16 ] || fail "16-bit: the output is not 16-bit"
same_pixels deep.gegl.png deep.host.png 16 || fail "16-bit: gegl and quarvel-host differ"
# Samples the filter leaves alone keep all 16 bits: everything off changes nothing.
gegl deep.png -o deep.off.png -- quarvel:filter dynamic-enable=false color-enable=false sharp-enable=false \
    smooth-enable=false 2>>deep.log
same_pixels deep.off.png deep.png 16 || fail "16-bit: untouched samples changed"

# Bad input: a clear warning, an image nonetheless, never a crash.
expect_warning() {
    local label=$1 pattern=$2 expected=$3
    shift 3
    gegl "$@" 2>"$label.log"
    local status=$?
    [ $status -eq 0 ] || fail "$label: gegl ended with $status"
    grep -q "$pattern" "$label.log" || { fail "$label: no warning matching '$pattern'"; cat "$label.log"; }
    same_pixels "$label.png" "$expected" || fail "$label: not the expected image"
}
plain="$samples/chelsea.png"
gegl "$plain" -o lift.png -- quarvel:filter shadow-amount=40 shadow-level=50 2>/dev/null
expect_warning nan "shadow-clip" lift.png \
    "$plain" -o nan.png -- quarvel:filter shadow-amount=40 shadow-level=50 shadow-clip=nan
expect_warning huge "out of range" lift.png \
    "$plain" -o huge.png -- quarvel:filter shadow-amount=40 shadow-level=50 shadow-clip=1e300
expect_warning missing "no-such.qvp" lift.png \
    "$plain" -o missing.png -- quarvel:filter shadow-amount=40 shadow-level=50 preset="$work/no-such.qvp"
expect_warning garbage "not a preset file" lift.png \
    "$plain" -o garbage.png -- quarvel:filter shadow-amount=40 shadow-level=50 preset="$samples/coffee.png"
# A preset by the name of a bundled one, found beside the module; set properties win over it.
gegl "$plain" -o bundled.png -- quarvel:filter preset="Lift Shadows" shadow-amount=20 2>bundled.log
"$host" -q --preset "$presets/Lift Shadows.qvp" --set ShadowAmount=20 "$plain" bundled.host.png
same_pixels bundled.png bundled.host.png || fail "bundled preset: differs from quarvel-host"
grep -q "quarvel:filter" bundled.log && fail "bundled preset: warned"
for size in 1x1 5x5 5x40; do
    convert "$samples/coffee.png" -crop "$size+100+100" +repage "small-$size-in.png"
    expect_warning "small-$size" "passed through unchanged" "small-$size-in.png" \
        "small-$size-in.png" -o "small-$size.png" -- quarvel:filter shadow-amount=40
done
convert "$samples/coffee.png" -crop 6x6+100+100 +repage six-in.png
gegl six-in.png -o six.png -- quarvel:filter shadow-amount=40 shadow-level=400 2>six.log
same_pixels six.png six-in.png && fail "6x6: the smallest image the filter takes was not filtered"
# An empty extent: nothing to do, and no crash.
gegl "$plain" -o empty.png -- gegl:crop width=0 height=0 quarvel:filter shadow-amount=40 >empty.log 2>&1
status=$?
[ $status -lt 128 ] || fail "empty extent: gegl died with $status"
grep -q "CRITICAL" empty.log && { fail "empty extent: a critical warning"; cat empty.log; }

[ $failures -eq 0 ] && echo "all gegl checks passed" || echo "$failures gegl checks failed"
[ $failures -eq 0 ]
