#!/usr/bin/env bash
# Counts the non-blank lines of test code and of product code and prints the
# ratio. Test code: tests/ (with the test components and support),
# samples/tests/, cli/tests/ and soak/. Product code: the C++, IDL, CMake and
# scripts of everything else. Documents, data and package lists do not count.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
count() { # prints the non-blank lines of the files given on stdin
    local total=0 n f
    while IFS= read -r f; do
        n=$(grep -c '[^[:space:]]' "$f" || true)
        total=$((total + n))
    done
    echo "$total"
}
code_files() {
    find . -path ./out -prune -o -path ./.git -prune -o -type f \
        \( -name '*.cpp' -o -name '*.h' -o -name '*.idl' -o -name '*.rgs' -o -name '*.def' -o -name '*.rc.in' \
           -o -name '*.sh' -o -name '*.py' -o -name '*.cmake' -o -name 'CMakeLists.txt' \
           -o -name '*.vbs' -o -name '*.js' \) -print
}
test_re='^\./(tests|samples/tests|cli/tests|soak)/'
tests=$(code_files | grep -E "$test_re" | count)
product=$(code_files | grep -vE "$test_re" | count)
permille=$(( (1000 * tests + product / 2) / product ))
echo "code size: test code $tests lines, product code $product lines, test/product $((permille / 10)).$((permille % 10))%"
