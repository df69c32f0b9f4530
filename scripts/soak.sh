#!/usr/bin/env bash
# The full soak: 8 client threads x 1,000 runs under injected faults, then
# the hostile-input pass. Builds x86_64 first; prints the figures.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/env.sh
trap wine_stop EXIT
wine_start
cmake --build out/x86_64 --target soak
# Judged by the verdict each pass prints: a process that dies of a stack
# overflow under Wine exits 0.
for pass in full hostile; do
    status=0
    scripts/wine-run.sh out/x86_64/tests/soak.exe $pass > out/soak-$pass.log || status=$?
    cat out/soak-$pass.log
    grep -q ': clean' out/soak-$pass.log || { echo "soak: the $pass pass gave no verdict of clean" >&2; exit 1; }
    [ "$status" -eq 0 ] || exit "$status"
done
