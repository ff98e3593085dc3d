#!/bin/sh
# package-test.sh win32|win64 WINDOWS-BIN NATIVE-HOST IMAGE WORK-DIR
# The archive that users install. Made twice, once from copies of its inputs with other file
# times, it is the same bytes. Unpacked into the plug-in folder of a fresh Wine prefix, it holds
# one Quarvel folder with the module, its Presets folder and its help beside it; the Windows host
# runs that module with a preset from that Presets folder and gives the native core's pixels.
set -eu
arch=$1 bin=$2 nativehost=$3 image=$4 work=$5
case $work in /*) ;; *) work=$(pwd)/$work ;; esac
root=$(cd "$(dirname "$0")/../.." && pwd)
case $arch in
    win32) module=quarvel.8bf ;;
    win64) module=quarvel64.8bf ;;
    *) echo "package-test.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
fail() { echo "FAILED: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/source" "$work/copy"

# Reproducible: the archive depends on what the files hold, not on when they were written or in
# which order the file system lists them.
"$root/scripts/package" --out "$work/first" "$bin/$module"
cp -R "$root/data" "$root/LICENSE" "$root/CMakeLists.txt" "$work/source/"
cp "$bin/$module" "$work/copy/"
find "$work/source" "$work/copy" -exec touch -d "2001-02-03 04:05:06" {} +
"$root/scripts/package" --out "$work/second" --source "$work/source" "$work/copy/$module"
archive=$(cd "$work/first" && ls quarvel-*-"$arch".zip)
cmp "$work/first/$archive" "$work/second/$archive" || fail "$archive differs when made again"

# Everything in one Quarvel folder.
outside=$(python3 -c 'import sys, zipfile
print("\n".join(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.startswith("Quarvel/")))' \
    "$work/first/$archive")
[ -z "$outside" ] || fail "entries outside Quarvel/: $outside"

# A fresh prefix, made by the first run of the host, with the archive unpacked into a plug-in
# folder under Program Files (a path with blanks, as hosts have).
prefix=$work/prefix
status=0
"$root/tests/wine/run-wine.sh" "$arch" "$prefix" "$bin/quarvel-host.exe" --version </dev/null >/dev/null || status=$?
[ $status -ne 77 ] || exit 77
[ $status -eq 0 ] || fail "quarvel-host.exe does not start under Wine ($status)"
plugins="$prefix/drive_c/Program Files/Host/Plug-ins"
mkdir -p "$plugins"
python3 -m zipfile -e "$work/first/$archive" "$plugins"

# The module finds its preset folder and its help as its own directory plus Presets\ and
# doc\index.html.
installed="$plugins/Quarvel"
cmp "$bin/$module" "$installed/$module" || fail "the module in the archive is not the one built"
for preset in "$root"/data/presets/*.qvp; do
    cmp "$preset" "$installed/Presets/$(basename "$preset")" || fail "preset $(basename "$preset") not in Presets"
done
[ -f "$installed/doc/index.html" ] || fail "no doc/index.html beside the module"
for file in README.txt LICENSE.txt; do [ -f "$installed/$file" ] || fail "no $file"; done

# The host loads the installed module and takes the preset from beside it.
cp "$image" "$work/in.png"
windows='C:\Program Files\Host\Plug-ins\Quarvel'
"$root/tests/wine/run-wine.sh" "$arch" "$prefix" "$bin/quarvel-host.exe" -q \
    --plugin "$windows\\$module" --preset "$windows\\Presets\\Lift Shadows.qvp" \
    "Z:$work/in.png" "Z:$work/out.png" </dev/null >/dev/null || fail "quarvel-host.exe exited $?"
[ -f "$work/out.png" ] || fail "no output"
QUARVEL_KERNELS=reference "$nativehost" -q --preset "$root/data/presets/Lift Shadows.qvp" \
    "$work/in.png" "$work/native.png"
changed=$(compare -metric AE "$work/in.png" "$work/out.png" null: 2>&1 || true)
[ "$changed" != "0" ] || fail "the preset changed nothing"
differing=$(compare -metric AE "$work/native.png" "$work/out.png" null: 2>&1 || true)
[ "$differing" = "0" ] || fail "the installed module and the native core differ in $differing pixels"
# A prefix is more than a gigabyte; one that failed stays for a look.
WINEPREFIX=$prefix /usr/lib/wine/wineserver -w 2>/dev/null || true
rm -rf "$prefix"
echo "$archive: reproducible, installs into a plug-in folder, runs with its own presets"
