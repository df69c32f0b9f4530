#!/usr/bin/env bash
# Puts faults into the product one at a time and checks that the tests catch
# each: the proof that the suite finds wrong orders, wrong codes, lost
# clean-ups, leaked references and skipped steps, not only that it passes.
#
#   bash tests/faults/run.sh [list.txt ...]     (default: every tests/faults/*.txt)
#
# A list has one fault per line, fields separated by " ||| ":
#   <file> ||| <exact text, found once> ||| <replacement> ||| <ctest -R regex>
# "\n" in the texts stands for a newline; lines starting with # are notes.
# Each fault is built into out/x86_64 and the tests matching the regex run;
# the file is restored afterwards whatever happens.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source scripts/env.sh
restore() { if [ -n "${file:-}" ] && [ -f "$file.faultsave" ]; then cp "$file.faultsave" "$file" && rm "$file.faultsave"; fi; }
trap 'restore; wine_stop' EXIT
wine_start
lists=("$@")
[ ${#lists[@]} -gt 0 ] || lists=(tests/faults/*.txt)
caught=0 missed=0 stale=0
while IFS= read -r row; do
    [[ -z "$row" || "$row" == \#* ]] && continue
    file=${row%% ||| *}
    regex=${row##* ||| }
    cp "$file" "$file.faultsave"
    if ! "$VEMBRO_PYTHON" - "$row" <<'PY'
import sys
path, old, new, _ = sys.argv[1].split(" ||| ")
old, new = old.replace("\\n", "\n"), new.replace("\\n", "\n")
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
    then
        echo "STALE   $row"; stale=$((stale + 1))
        rm -f "$file.faultsave"; continue
    fi
    if ! cmake --build out/x86_64 >/dev/null 2>&1; then
        result=BUILD
    elif ctest --test-dir out/x86_64 -R "$regex" --timeout 60 </dev/null >/dev/null 2>&1; then
        result=MISSED
    else
        result=CAUGHT
    fi
    restore
    case $result in
    CAUGHT) caught=$((caught + 1)) ;;
    MISSED) missed=$((missed + 1)) ;;
    *) stale=$((stale + 1)) ;; # a fault that does not build proves nothing
    esac
    echo "$result  $row"
done < <(cat "${lists[@]}")
cmake --build out/x86_64 >/dev/null 2>&1
echo "faults: $caught caught, $missed missed, $stale stale or not building"
[ "$missed" -eq 0 ] && [ "$stale" -eq 0 ]
