# Sourced by the other scripts: the project's own 32-bit Wine prefix and quiet Wine.
# CORVANE_PREFIX names the prefix (each script sets it to a folder inside its build tree).
: "${CORVANE_PREFIX:?CORVANE_PREFIX must name the Wine prefix}"
export WINEPREFIX="$CORVANE_PREFIX"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: without this Wine may stop and ask to install them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine names files on the Unix side in the locale's character set: under a plain C locale a
# file name outside ASCII cannot be created at all. C.UTF-8 exists on every Debian system.
export LC_ALL=C.UTF-8
