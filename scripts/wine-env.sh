# Sourced by the other scripts: the project's own Wine prefix and quiet Wine.
# CORVANE_PREFIX names the prefix (each script sets it to a folder inside its build tree).
# CORVANE_WINEARCH=win64 makes it a 64-bit prefix, where our 32-bit programs run under WOW64 as
# on 64-bit Windows; the default is a 32-bit prefix.
: "${CORVANE_PREFIX:?CORVANE_PREFIX must name the Wine prefix}"
export WINEPREFIX="$CORVANE_PREFIX"
export WINEARCH="${CORVANE_WINEARCH:-win32}"
# The 64-bit loader: a 64-bit prefix is booted with it, and its regedit and reg are the 64-bit
# tools of that prefix. 'wine' stays the 32-bit loader, which runs our programs in either prefix.
WINE64=/usr/lib/wine/wine64
# Creates the prefix (it must not exist yet); a 64-bit one needs the 64-bit loader.
boot_prefix() {
    if [ "$WINEARCH" = win64 ]; then
        timeout 180 "$WINE64" wineboot -i
    else
        timeout 180 wineboot -i
    fi
}
# The 32-bit system folder, where the 32-bit regsvr32 lives: syswow64 in a 64-bit prefix.
if [ "$WINEARCH" = win64 ]; then
    SYSTEM32='C:\windows\syswow64'
else
    SYSTEM32='C:\windows\system32'
fi
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: without this Wine may stop and ask to install them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine names files on the Unix side in the locale's character set: under a plain C locale a
# file name outside ASCII cannot be created at all. C.UTF-8 exists on every Debian system.
export LC_ALL=C.UTF-8
