#!/usr/bin/env bash
# Proves that set-up installs everything the project uses. Each program and
# folder of scripts/tools.sh is resolved and its owning Debian package looked
# up; one owned by no package of set-up's list nor of the base image fails the
# run and names the package to add. The programs are then linked into
# out/tools/bin, the only PATH that the other scripts use (scripts/env.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/tools.sh"

declare -A allowed=()
for p in "${VEMBRO_PACKAGES[@]}"; do allowed[$p]=setup; done
while read -r p; do [ -n "$p" ] && allowed[$p]=base; done <"$root/scripts/base-packages.txt"

failures=0
fail() { echo "check-install: $*" >&2; failures=$((failures + 1)); }

# Prints the packages that own a path, one per line. The path itself is tried
# first (a symlink such as /usr/bin/python3 has its own owner), then where it
# leads, each also in its /bin <-> /usr/bin spelling for merged-/usr systems.
owners() {
    local cand seen=""
    for cand in "$1" "$(readlink -f "$1")"; do
        for c in "$cand" "${cand/#\/usr\/bin\//\/bin\/}" "${cand/#\/bin\//\/usr\/bin\/}"; do
            case " $seen " in *" $c "*) continue ;; esac
            seen="$seen $c"
            # "pkg-a:amd64, pkg-b: /path" -> pkg-a, pkg-b
            dpkg-query -S "$c" 2>/dev/null | grep -v '^diversion' | sed 's/: .*//' | tr ',' '\n' |
                sed 's/^ *//; s/:.*//' || true
        done
    done | sort -u
}

check_owned() {  # what, path
    local o found=""
    while read -r o; do
        [ -n "$o" ] || continue
        if [ -n "${allowed[$o]:-}" ]; then return 0; fi
        found="$found $o"
    done < <(owners "$2")
    if [ -n "$found" ]; then
        fail "$1 ($2) comes from package(s)$found, which set-up does not install: add it to VEMBRO_PACKAGES in scripts/tools.sh"
    else
        fail "$1 ($2) belongs to no Debian package: use one that a package installs"
    fi
}

bin="$root/out/tools/bin"
rm -rf "$bin"
mkdir -p "$bin"

for prog in "${VEMBRO_PROGRAMS[@]}"; do
    path=$(command -v "$prog" 2>/dev/null || true)
    # A program on PATH outside the package tree (a version manager's shim,
    # say) would hide a missing package: look in the system folders only.
    for dir in /usr/bin /bin /usr/sbin /sbin; do
        [ -x "$dir/$prog" ] && { path="$dir/$prog"; break; }
    done
    case "$path" in
        /usr/bin/* | /bin/* | /usr/sbin/* | /sbin/*) ;;
        *) fail "$prog is not installed in the system folders (found: ${path:-nothing})"; continue ;;
    esac
    check_owned "$prog" "$path"
    ln -sf "$path" "$bin/$prog"
done

for var in VEMBRO_WIDL VEMBRO_WINE VEMBRO_WINESERVER VEMBRO_PYTHON; do
    path=${!var}
    if [ -x "$path" ]; then check_owned "$var" "$path"; else fail "$var: $path is missing"; fi
done
for var in VEMBRO_WINE_IDL_DIR VEMBRO_WINE_TLB_DIR; do
    path=${!var}
    if [ -d "$path" ]; then check_owned "$var" "$path"; else fail "$var: $path is missing"; fi
done

if [ "$failures" -gt 0 ]; then
    echo "check-install: $failures problem(s); a fresh machine could not run this project" >&2
    exit 1
fi
echo "check-install: ${#VEMBRO_PROGRAMS[@]} programs, 4 tools and 2 folders all come from set-up's packages or the base image"
