# Sourced by the other scripts: the project's own 32-bit Wine prefix and quiet Wine.
# CORVANE_PREFIX names the prefix; it defaults to a folder inside the build tree.
: "${CORVANE_PREFIX:?CORVANE_PREFIX must name the Wine prefix}"
export WINEPREFIX="$CORVANE_PREFIX"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: without this Wine may stop and ask to install them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
