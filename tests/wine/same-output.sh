#!/bin/sh
# same-output.sh win32|win64 PREFIX WINDOWS-HOST NATIVE-HOST SAMPLES-DIR WORK-DIR
# The Windows module and the native core must produce the same pixels for the same image.
set -eu
arch=$1 prefix=$2 winhost=$3 nativehost=$4 samples=$5 work=$6
case $work in /*) ;; *) work=$(pwd)/$work ;; esac
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
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
    "$nativehost" -q "$work/$name" "$work/$stem.native.png"
    # Wine's drive Z: is the Unix root.
    "$here/run-wine.sh" "$arch" "$prefix" "$winhost" -q "Z:$work/$name" "Z:$work/$stem.windows.png" \
        </dev/null >/dev/null
    differing=$(compare -metric AE "$work/$stem.native.png" "$work/$stem.windows.png" null: 2>&1 || true)
    if [ "$differing" != "0" ]; then
        echo "$name: native and $arch outputs differ in $differing pixels" >&2
        status=1
    else
        echo "$name: identical"
    fi
done
exit $status
