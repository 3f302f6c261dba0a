#!/usr/bin/env bash
# examples_test.sh SCENARIO BIN_DIR SOURCE_DIR
#
# Runs the grading examples (examples/) the way a teacher does, with the build's
# collection-check first on PATH and the build's own setcalc as a student's submission:
#   gradescope  run_autograder in a folder laid out as Gradescope's /autograder: a right
#               submission scores full marks, a wrong one 0, a check that cannot be made 0
#               with the checker's message
#   parallel    grade-over-machines.sh on this machine: one JSON line per submission
#               (skipped, status 77, without GNU parallel)
#   files       the workflow is valid YAML that runs on push, every collection-check option
#               the examples use is one the checker has, the scripts are shellcheck clean
set -uo pipefail

scenario=$1 bin=$(cd "$2" && pwd) source=$3
examples=$source/examples
export PATH="$bin:$PATH"
work=$(mktemp -d "${TMPDIR:-/tmp}/examples_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# submission FOLDER good|wrong: FOLDER/setcalc, the collection's own or one printing garbage.
submission() {
    mkdir -p "$1"
    if [[ $2 == good ]]; then
        cp "$bin/setcalc" "$1/setcalc"
    else
        printf '#!/bin/sh\necho garbage\n' >"$1/setcalc"
        chmod +x "$1/setcalc"
    fi
}

# autograde ROOT [VARIABLE=VALUE...]: runs run_autograder on ROOT/submission as Gradescope
# does; prints "SCORE MAX PASSED TESTS" read from ROOT/results/results.json.
autograde() {
    local root=$1
    shift
    mkdir -p "$root/source" "$root/results"
    cp "$examples"/gradescope/* "$root/source/"
    env AUTOGRADER_ROOT="$root" "$@" "$root/source/run_autograder" >"$root/log" 2>&1 ||
        fail "run_autograder ended with status $?: $(cat "$root/log")"
    python3 - "$root/results/results.json" <<'PY' || fail "results.json: $(cat "$root/results/results.json")"
import json, sys
r = json.load(open(sys.argv[1]))
tests = r["tests"]
print("%g %g" % (r["score"], r.get("max_score", sum(t["max_score"] for t in tests))),
      sum(t["status"] == "passed" for t in tests), len(tests))
PY
}

case $scenario in
gradescope)
    submission "$work/good/submission" good
    read -r score max passed tests <<<"$(autograde "$work/good")"
    [[ ${tests:-0} -gt 0 && $passed == "$tests" && $score == "$max" && $max != 0 ]] ||
        fail "right submission: score $score of $max, $passed of $tests passed"

    submission "$work/wrong/submission" wrong
    read -r score max passed tests <<<"$(autograde "$work/wrong")"
    [[ ${tests:-0} -gt 0 && $passed == 0 && $score == 0 ]] ||
        fail "wrong submission: score $score of $max, $passed of $tests passed"

    submission "$work/none/submission" good
    read -r score _ _ tests <<<"$(autograde "$work/none" PROGRAM=no-such-program)"
    [[ $score == 0 && $tests == 0 ]] || fail "unknown program: score $score, $tests tests"
    grep -q 'no-such-program' "$work/none/results/results.json" ||
        fail "the checker's message is not shown: $(cat "$work/none/results/results.json")"
    ;;

parallel)
    command -v parallel >/dev/null || { echo "GNU parallel is missing: skipped"; exit 77; }
    submission "$work/class/alice" good
    submission "$work/class/bob" wrong
    (cd "$work" && "$examples/parallel/grade-over-machines.sh" -o graded.jsonl setcalc class) \
        >"$work/log" 2>&1 || fail "grade-over-machines.sh ended with status $?: $(cat "$work/log")"
    # A student whose folder holds nothing to check is recorded too, and the check says so.
    mkdir -p "$work/class/carl \"q\""
    (cd "$work" && "$examples/parallel/grade-over-machines.sh" -o with-carl.jsonl setcalc class) \
        >"$work/log" 2>&1 && fail "a check that could not be made ended with status 0"
    python3 - "$work/graded.jsonl" "$work/with-carl.jsonl" <<'PY' || fail "results: $(cat "$work/graded.jsonl" "$work/with-carl.jsonl")"
import json, sys
lines = open(sys.argv[1]).read().splitlines()
assert len(lines) == 2, "%d lines" % len(lines)
alice, bob = (json.loads(line) for line in lines)
assert alice["submission"] == "alice" and bob["submission"] == "bob", "order or names"
lines = open(sys.argv[2]).read().splitlines()
assert len(lines) == 3, "%d lines" % len(lines)
carl = json.loads(lines[2])
assert carl["submission"] == 'carl "q"', carl["submission"]
assert carl["score"] == 0 and carl["cases"] == [] and carl["build"]["verdict"] == "missing", carl
assert "not an executable file" in carl["build"]["message"], carl
assert alice["program"] == "setcalc" and alice["failed"] == 0, "alice failed a case"
assert alice["score"] == alice["max_score"] > 0, "alice's score"
assert bob["score"] == 0 and bob["passed"] == 0, "bob's score"
PY
    ;;

files)
    workflow=$examples/github/collection-check.yml
    if python3 -c 'import yaml' 2>/dev/null; then
        python3 - "$workflow" <<'PY' || fail "$workflow is not a workflow that runs on push"
import sys, yaml
w = yaml.safe_load(open(sys.argv[1]))
on = w.get("on", w.get(True))  # YAML 1.1 reads a bare on as true
assert "push" in on
steps = [s for job in w["jobs"].values() for s in job["steps"]]
assert any("collection-check --format junit" in s.get("run", "") for s in steps)
assert any(s.get("with", {}).get("report_paths") == "report.xml" for s in steps)
PY
    else
        grep -q $'^\t' "$workflow" && fail "$workflow has tab indentation"
        for line in '^on:' '^  push:' '^jobs:' '^ +steps:' '^ +(- )?uses: mikepenz/action-junit-report@'; do
            grep -qE "$line" "$workflow" || fail "$workflow has no line $line"
        done
    fi
    help=$(collection-check --help 2>&1)
    options=$(grep -rhoE 'collection-check( --?[a-z][a-z-]*( [a-z]+)?)+' "$examples" |
        grep -oE ' --?[a-z][a-z-]*' | sort -u)
    [[ -n $options ]] || fail "no collection-check option found in $examples"
    for option in $options; do
        grep -qE "(^|[ ,])$option([ ,=]|$)" <<<"$help" || fail "collection-check has no option $option"
    done
    if command -v shellcheck >/dev/null; then
        shellcheck "$examples"/gradescope/setup.sh "$examples"/gradescope/run_autograder \
            "$examples"/parallel/grade-over-machines.sh || fail "shellcheck"
    fi
    ;;

*)
    echo "usage: $0 gradescope|parallel|files BIN_DIR SOURCE_DIR" >&2
    exit 2
    ;;
esac

((failures == 0)) || { echo "$failures failed" >&2; exit 1; }
