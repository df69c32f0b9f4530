# Sourced by every script after set-up, and by the test emulator: the
# project's programs (scripts/tools.sh) on a PATH of their own, a pinned
# locale and home, and one private, quiet Wine prefix under the build tree
# without the Mono/Gecko installers.
VEMBRO_ROOT="${VEMBRO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
VEMBRO_OUT="${VEMBRO_OUT:-$VEMBRO_ROOT/out}"
source "$VEMBRO_ROOT/scripts/tools.sh"

# Only what check-install.sh proved set-up installs is on PATH, so a program
# that set-up lacks fails here exactly as it would on a fresh machine.
if [ ! -d "$VEMBRO_OUT/tools/bin" ]; then
    echo "env: $VEMBRO_OUT/tools/bin is missing: run 'bash scripts/setup.sh' first" >&2
    return 1 2>/dev/null || exit 1
fi
export PATH="$VEMBRO_OUT/tools/bin"
export LC_ALL=C.UTF-8 LANG=C.UTF-8
# Wine keeps per-user state under HOME; a bare CI shell may have none.
if [ -z "${HOME:-}" ] || [ ! -d "$HOME" ] || [ ! -w "$HOME" ]; then
    export HOME="$VEMBRO_OUT/home"
    mkdir -p "$HOME"
fi

export WINEPREFIX="${WINEPREFIX:-$VEMBRO_OUT/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
export WINESERVER="$VEMBRO_WINESERVER"
export VEMBRO_WINE
WINE="$VEMBRO_ROOT/scripts/wine.sh"
export WINE

# Starts a persistent wineserver and initialises the prefix with every
# standard stream pointed away from the caller: Wine's background services
# otherwise inherit the caller's pipes and whoever reads them never sees EOF.
# Their output goes to files, never to a pipe, for the same reason.
wine_start() {
    mkdir -p "$WINEPREFIX"
    local log="$VEMBRO_OUT/wine-start.log"
    local rc=0
    "$WINESERVER" -p </dev/null >"$log" 2>&1 || rc=$?
    # Exit status 2 is the server's own word that another server holds this
    # prefix's lock, i.e. one is already running: the one tolerated failure.
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 2 ]; then
        echo "env: '$WINESERVER -p' failed (exit $rc) for $WINEPREFIX:" >&2
        cat "$log" >&2
        return 1
    fi
    if ! "$WINE" wineboot -u </dev/null >"$log" 2>&1; then
        echo "env: '$WINE wineboot -u' failed for $WINEPREFIX:" >&2
        cat "$log" >&2
        return 1
    fi
}

wine_stop() {
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true  # none running is fine
}

# Runs a Windows program, its output passed on when it ends. One failure
# outside the program is retried once, with a note: the host's dynamic loader
# aborting with exit code 127 while Wine tears the finished process down (a
# thread caught mid-load as the process ends; nothing of the program's run is
# lost by then). Any other failure, and the same failure twice, is passed on
# unchanged. (Processes that died at start-up without a word were Wine's
# address-space clash, which scripts/wine.sh prevents; they are not retried.)
wine_run() {
    local out err rc attempt
    out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || return 1
    err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || { rm -f "$out"; return 1; }
    for attempt in 1 2; do
        # Files, not pipes: services the program starts inherit them, and a
        # pipe would stay open until they exit.
        "$WINE" "$@" >"$out" 2>"$err"
        rc=$?
        cat "$out"
        cat "$err" >&2
        [ "$attempt" -eq 1 ] && [ "$rc" -ne 0 ] || break
        if [ "$rc" -eq 127 ] && grep -q "^Inconsistency detected by ld.so: dl-fini.c" "$err"; then
            echo "wine-run: the host loader aborted while the process was ending; running it once more" >&2
        else
            break
        fi
    done
    rm -f "$out" "$err"
    return "$rc"
}
