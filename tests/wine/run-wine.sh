#!/bin/sh
# run-wine.sh win32|win64 PREFIX PROGRAM [ARGS...]
# Runs a Windows program under Wine with a prefix of its own, made on first use, on a virtual
# display, so that tests need neither a desktop nor anything from the user's own Wine setup.
set -eu
arch=$1 prefix=$2
shift 2
export WINEARCH="$arch" WINEPREFIX="$prefix" WINEDEBUG=-all
# No browser or .NET runtime downloads while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        xvfb-run -a wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
    fi
) 9>"$prefix.lock"
cd "$(dirname "$1")"
exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@"
