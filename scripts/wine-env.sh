# Sourced by the scripts that run Windows programs: one private prefix under
# the build tree, quiet, and without the Mono/Gecko installers.
VEMBRO_ROOT="${VEMBRO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
VEMBRO_OUT="${VEMBRO_OUT:-$VEMBRO_ROOT/out}"
export WINEPREFIX="${WINEPREFIX:-$VEMBRO_OUT/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
if command -v wine64 >/dev/null; then WINE=wine64; else WINE=/usr/lib/wine/wine64; fi
export WINE

# Starts a persistent wineserver and initialises the prefix with every
# standard stream pointed away from the caller: Wine's background services
# otherwise inherit the caller's pipes and whoever reads them never sees EOF.
wine_start() {
    mkdir -p "$WINEPREFIX"
    # A server already running for this prefix is fine.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    "$WINE" wineboot -u </dev/null >/dev/null 2>&1 || true
}

wine_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
}
