#!/bin/sh
# run-wine.sh win32|win64 PREFIX PROGRAM [ARGS...]
# Runs a Windows program under Wine with a prefix of its own, made on first use, on a virtual
# display, so that tests need neither a desktop nor anything from the user's own Wine setup.
# Exits 77 (a skip for ctest) when this machine cannot run the architecture at all.
set -eu
arch=$1 prefix=$2
shift 2

case $arch in
    win32)
        loader=/usr/lib/wine/wine
        # Some kernels are booted without 32-bit emulation; Wine's 32-bit loader cannot start.
        if ! "$loader" --version >/dev/null 2>&1; then
            echo "skipped: this machine cannot run 32-bit programs (kernel without ia32 emulation)" >&2
            exit 77
        fi
        ;;
    win64) loader=/usr/lib/wine/wine64 ;;
    *) echo "run-wine.sh: unknown architecture $arch" >&2; exit 2 ;;
esac

export WINEARCH="$arch" WINEPREFIX="$prefix" WINEDEBUG=-all WINELOADER="$loader"
# No browser or .NET runtime downloads while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        xvfb-run -a "$loader" wineboot.exe -i >/dev/null 2>&1 || true
        /usr/lib/wine/wineserver -w || true
    fi
    # Without a window manager, Wine waits for one for about 2 s whenever a managed window
    # closes; the dialog tests close hundreds of windows.
    if [ ! -f "$prefix/.unmanaged" ]; then
        xvfb-run -a "$loader" reg.exe add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
        /usr/lib/wine/wineserver -w || true
        touch "$prefix/.unmanaged"
    fi
) 9>"$prefix.lock"
cd "$(dirname "$1")"
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$loader" "$@"
