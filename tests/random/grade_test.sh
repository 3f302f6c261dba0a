#!/usr/bin/env bash
# grade_test.sh BIN_DIR SOURCE_DIR
#
# A class graded with random sessions, as a teacher grades it: two students hand in the same
# faulty program and a third a right one, built from the collection's own sources (so that
# none is byte for byte the collection's program). Each student's sessions are their own:
# the two faulty ones fail on different inputs, the right one passes them all, and the same
# class graded twice with the same seed gets the same grades and the same sessions; with
# --first-failure, a student stopped at a failing case draws none.
set -uo pipefail
bin=$1 top=$2
check="$bin/collection-check"
work=$(mktemp -d "${TMPDIR:-/tmp}/random_grade.XXXXXX")
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# build NAME [SED]: setcalc from the collection's sources, with one line changed by SED.
build() {
    local name=$1 change=${2:-}
    mkdir -p "$work/src-$name"
    cp "$top"/sets/*.cpp "$top"/sets/*.hpp "$work/src-$name/"
    mkdir -p "$work/src-$name/console" "$work/src-$name/sets"
    cp "$top"/console/*.hpp "$top"/console/console.cpp "$work/src-$name/console/"
    cp "$top"/sets/*.hpp "$work/src-$name/sets/"
    if [[ -n $change ]]; then
        cp "$work/src-$name/sets.cpp" "$work/src-$name/sets.cpp.orig"
        sed -i "$change" "$work/src-$name/sets.cpp"
        cmp -s "$work/src-$name/sets.cpp" "$work/src-$name/sets.cpp.orig" && fail "$name: the change did not apply"
    fi
    c++ -std=c++20 -O0 -I"$work/src-$name" -o "$work/$name" "$work/src-$name/setcalc_main.cpp" \
        "$work/src-$name/setcalc.cpp" "$work/src-$name/sets.cpp" "$work/src-$name/console/console.cpp"
}
# The intersection skips the first set's last element.
build faulty 's/for (int k = 0; k < \*first_count; ++k)$/for (int k = 0; k + 1 < *first_count; ++k)/' &
build right &
wait
[[ -x $work/faulty && -x $work/right ]] || { echo "FAILED: the submissions did not build" >&2; exit 1; }
for student in ann ben; do mkdir -p "$work/class/$student" && cp "$work/faulty" "$work/class/$student/setcalc"; done
mkdir -p "$work/class/cy" && cp "$work/right" "$work/class/cy/setcalc"

grade() {  # grade REPORT: the class with 40 sessions each, worth 2 points
    "$check" --grade "$work/class" --report "$work/$1" --random 40 --seed 2026 \
        --random-points 2 setcalc >"$work/$1.out" 2>&1
}
grade first || fail "the class could not be graded: $(cat "$work/first.out")"
grade second || fail "the class could not be graded twice: $(cat "$work/second.out")"
grep -q "from seed 2026" "$work/first.out" || fail "the seed is not said: $(cat "$work/first.out")"
cmp -s "$work/first/grades.csv" "$work/second/grades.csv" ||
    fail "the same class and seed graded twice differ: $(diff "$work/first/grades.csv" "$work/second/grades.csv")"
# STUDENT=NAME inputs RESULTS: a student's sessions, one a line: the name and the input fed.
inputs() {
    perl -MJSON::PP -ne 'my $j = decode_json($_); next unless $j->{submission} eq $ENV{STUDENT};
        for my $c (@{$j->{cases}}) { next unless $c->{name} =~ /^random-/;
            (my $i = $c->{input}) =~ s/\n/|/g; print "$c->{name} $i\n" }' "$1"
}
STUDENT=ann inputs "$work/first/results.jsonl" >"$work/ann.inputs"
STUDENT=ben inputs "$work/first/results.jsonl" >"$work/ben.inputs"
STUDENT=ann inputs "$work/second/results.jsonl" >"$work/ann2.inputs"
[[ $(wc -l <"$work/ann.inputs") == 40 ]] || fail "ann has not 40 sessions: $(cat "$work/ann.inputs")"
cmp -s "$work/ann.inputs" "$work/ann2.inputs" || fail "ann's sessions differ from one grading to the next"
same=$(paste -d'\n' "$work/ann.inputs" "$work/ben.inputs" | paste - - | awk -F'\t' '$1 == $2' | wc -l)
((same <= 4)) || fail "ann and ben share $same of their 40 sessions"
# The right one scores all; the faulty ones lose points on sessions, each shrunk in their feedback.
grep -q '^cy,99,99,' "$work/first/grades.csv" || fail "cy's row: $(cat "$work/first/grades.csv")"
for student in ann ben; do
    grep -q "^$student,[0-9.]*,99," "$work/first/grades.csv" || fail "$student's row: $(cat "$work/first/grades.csv")"
    grep -q "^$student,99," "$work/first/grades.csv" && fail "$student's fault passed every session"
    grep -q "shrunk to .* the intersection of" "$work/first/feedback/$student.txt" ||
        fail "$student's feedback shows no shrunk session: $(head -c 3000 "$work/first/feedback/$student.txt")"
    grep -q -- "--seed [0-9]* --session [0-9]* setcalc" "$work/first/feedback/$student.txt" ||
        fail "$student's feedback has no command that runs their session again"
done
# The report page groups the two by their shrunk session.
grep -q "the random session <strong>the intersection of" "$work/first/report.html" ||
    fail "the report page does not group the students by their shrunk session"
# --first-failure: a student stopped at a failing case draws no session; the others draw theirs.
"$check" --grade "$work/class" --report "$work/stopped" --random 40 --seed 2026 --first-failure \
    setcalc >"$work/stopped.out" 2>&1
STUDENT=ann inputs "$work/stopped/results.jsonl" >"$work/ann.stopped"
STUDENT=cy inputs "$work/stopped/results.jsonl" >"$work/cy.stopped"
[[ ! -s $work/ann.stopped ]] || fail "--first-failure: ann ran sessions after a failing case: $(head -n 3 "$work/ann.stopped")"
[[ $(wc -l <"$work/cy.stopped") == 40 ]] || fail "--first-failure: cy has not 40 sessions: $(cat "$work/stopped.out")"
if ((failures > 0)); then
    echo "$failures failed expectation(s)" >&2
    exit 1
fi
echo "a class graded with random sessions: per-student sessions, the same grades twice"
