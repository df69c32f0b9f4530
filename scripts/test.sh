#!/usr/bin/env bash
# The test command: installs what is missing, builds x86_64 (tests) and i686
# (the deliverable), checks the i686 artefacts and runs every test under Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
source scripts/env.sh
trap wine_stop EXIT
wine_start

bash scripts/build.sh
"$VEMBRO_PYTHON" scripts/check-dll.py out/i686/Vembro.DLL

bash scripts/code-size.sh
ctest --test-dir out/x86_64 --output-on-failure --timeout 120 </dev/null
