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

# Runs a Windows program. On rare occasions the host's dynamic loader aborts
# with exit code 127 while Wine is tearing the finished process down (a thread
# caught mid-load as the process ends); nothing of the program's own run is
# lost by then, so such a run is repeated once. Any other failure, and the
# same abort twice in a row, is passed on unchanged.
wine_run() {
    local err rc attempt
    err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || return 1
    for attempt in 1 2; do
        # stderr goes to a file, not a pipe: services the program starts
        # inherit it, and a pipe would stay open until they exit.
        "$WINE" "$@" 2>"$err"
        rc=$?
        cat "$err" >&2
        if [ "$rc" -eq 127 ] && [ "$attempt" -eq 1 ] &&
           grep -q "^Inconsistency detected by ld.so: dl-fini.c" "$err"; then
            echo "wine-run: the host loader aborted while the process was ending; running it once more" >&2
            continue
        fi
        break
    done
    rm -f "$err"
    return "$rc"
}
