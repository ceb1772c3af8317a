#!/usr/bin/env bash
# Checks the completions that tretool's bash completion offers.
# Usage: completion_test.sh <completion file> <tretool> <make_sample> <trepack's completion file>
#        [<tremount's completion file>]
set -u
export LC_ALL=C
# shellcheck source=/dev/null
source "$1"
tool=$2
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
"$3" sample.tre
touch sample.txt
mkdir samples

passed=0 failed=0
# complete_with <completion function> <command> <index of the word completed>
#     "<completions, sorted, space-separated>" word...
complete_with() {
    local function=$1 command=$2 cursor=$3 expected=$4
    shift 4
    COMP_WORDS=("$command" "$@")
    COMP_CWORD=$cursor
    COMPREPLY=()
    "$function"
    local actual
    actual=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
    if [[ $actual == "$expected" ]]; then
        ((passed += 1))
    else
        ((failed += 1))
        echo "FAIL: $command $* (word $cursor) -> '$actual', expected '$expected'"
    fi
}
expect_at() { complete_with _tretool "$tool" "$@"; }
# expect "<completions>" word... : the last word is the one completed
expect() { expect_at $(($# - 1)) "$@"; }

expect "--help --version -f -h -j -l -lf -m -o -p -q -t -v -x" ""
expect "-l -lf" "-l"
expect "sample.tre sample.txt samples" -f "sam"
expect "sample.txt" -f sample.tre -lf "sample.tx"
expect "0 1 2 3 4" -f sample.tre -o ""
expect "3" -f sample.tre -o "3"
expect_at 3 "0 1 2 3 4" -l -o "" -f sample.tre
expect "sample.tre sample.txt samples" -f sample.tre -o 1 "s"
expect "--help --version -f -h -j -l -lf -m -o -p -q -t -v -x" -f -l ""
expect "0 1 2 3 4" -f sample.tre -p ""
expect "--help --version -f -h -j -l -lf -m -o -p -q -t -v -x" -f sample.tre -p 2 "-"
expect "" --help ""
expect "samples" -f sample.tre -x "sam"
expect "" -f sample.tre -m "sam"
expect "0 1 2 3 4" -f sample.tre -x out -m "*" -o ""
expect "" -f missing.tre -o ""
expect "" -f . -o ""
expect "" -o ""
[[ -e missing.tre ]] && { ((failed += 1)); echo "FAIL: completing created missing.tre"; }

# shellcheck source=/dev/null
source "$4"
expect_trepack() { complete_with _trepack trepack $(($# - 1)) "$@"; }
expect_trepack "--base" "--ba"
expect_trepack "samples" -C "sam"
expect_trepack "sample.tre sample.txt samples" -f out.tre --base "sam"
expect_trepack "" -f out.tre --prefix-byte ""
expect_trepack "sample.tre sample.txt samples" -f out.tre "sam"

if [[ -n ${5:-} ]]; then
    # shellcheck source=/dev/null
    source "$5"
    # "<completions>" word...: the last word is the one completed
    expect_tremount() { complete_with _tremount tremount $(($# - 1)) "$@"; }
    expect_tremount "sample.tre sample.txt samples" "sam"
    expect_tremount "samples" -f sample.tre "sam"
    expect_tremount "" sample.tre samples "s"
    expect_tremount "allow_other allow_root" -o "allow"
    expect_tremount "--help --version" "--"
fi

echo "$passed passed, $failed failed"
((failed == 0))
