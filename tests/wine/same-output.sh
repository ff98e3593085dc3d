#!/bin/sh
# same-output.sh win32|win64 PREFIX WINDOWS-HOST NATIVE-HOST SAMPLES-DIR WORK-DIR [PRESETS-DIR]
# The Windows module and the native core must produce the same pixels for the same image, with
# the default settings, with every preset, and with every group of settings on at once.
set -eu
# Grain follows the clock unless told otherwise; both builds must draw the same pattern.
export QUARVEL_GRAIN_SEED=20261207
# The native side runs the plain loops that define the result, the module its fast ones, so the
# comparison also proves each module's fast loops exact.
native_kernels=reference
arch=$1 prefix=$2 winhost=$3 nativehost=$4 samples=$5 work=$6 presets=${7:-}
case $work in /*) ;; *) work=$(pwd)/$work ;; esac
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
everything=$work/everything.qvp
printf '%s;\r\n' ShadowAmount=30 HilightAmount=20 AutoColor=1 Saturation=10 Contrast=12 SharpMethod=1 \
    HiSharpAmount=150 ShSharpAmount=100 ShSharpRadius=1.5 ShSharpThreshold=4 SmoothAmount=50 \
    SmoothThreshold=3 DiffuseAmount=30 DiffuseTone=-20 GrainAmount=4 >"$everything"
status=0
for image in "$samples"/*.png "$samples"/*.jpg; do
    [ -f "$image" ] || continue
    name=$(basename "$image")
    stem=${name%.*}
    # Both builds get the same decoded pixels: JPEG decoders may differ in their last bit.
    case $name in
        *.png) cp "$image" "$work/$name" ;;
        *) name=$stem.input.png; convert "$image" "$work/$name" ;;
    esac
    for preset in "" "$everything" "$presets"/*.qvp; do
        [ -z "$preset" ] || [ -f "$preset" ] || continue
        tag=$(basename "${preset:-default}" .qvp | tr ' ' '_')
        native=$work/$stem.$tag.native.png windows=$work/$stem.$tag.windows.png
        if [ -n "$preset" ]; then
            QUARVEL_KERNELS=$native_kernels "$nativehost" -q --preset "$preset" "$work/$name" "$native"
            # Wine's drive Z: is the Unix root.
            "$here/run-wine.sh" "$arch" "$prefix" "$winhost" -q --preset "Z:$preset" "Z:$work/$name" \
                "Z:$windows" </dev/null >/dev/null
        else
            QUARVEL_KERNELS=$native_kernels "$nativehost" -q "$work/$name" "$native"
            "$here/run-wine.sh" "$arch" "$prefix" "$winhost" -q "Z:$work/$name" "Z:$windows" </dev/null >/dev/null
        fi
        differing=$(compare -metric AE "$native" "$windows" null: 2>&1 || true)
        if [ "$differing" != "0" ]; then
            echo "$name ($tag): native and $arch outputs differ in $differing pixels" >&2
            status=1
        else
            echo "$name ($tag): identical"
        fi
    done
done
exit $status
