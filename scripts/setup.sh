#!/usr/bin/env bash
# Installs what the build, the tests, the main job and the benchmark need on a
# bare Debian machine (the list is scripts/tools.sh), then proves that nothing
# else is used. Quick when everything is already there: nothing is downloaded.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/tools.sh"

missing=()
for p in "${VEMBRO_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi

bash "$root/scripts/check-install.sh"
