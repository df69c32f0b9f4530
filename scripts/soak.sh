#!/usr/bin/env bash
# The full soak: 8 client threads x 1,000 runs under injected faults, then
# the hostile-input pass. Builds x86_64 first; prints the figures.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/env.sh
trap wine_stop EXIT
wine_start
cmake --build out/x86_64 --target soak
scripts/wine-run.sh out/x86_64/tests/soak.exe full "$@"
scripts/wine-run.sh out/x86_64/tests/soak.exe hostile
