#!/usr/bin/env bash
# platforms_test.sh BIN_DIR
#
# A class as each learning platform exports it, graded as it comes: Moodle's "download all
# submissions" zip, Canvas's flat folder, GitHub Classroom's clones. Each student's score,
# id and late mark must come out right, the platform's names must not reach the table, and
# the gradebook files must be written. Then a folder with nothing to grade (status 2, saying
# what it holds), and a class of large archives that together pass the run folder's space:
# each student's archive is gone before the next one's is unpacked.
#
# The program is a small set printer in C, "setcalc" here, split into main.c, sets.c and
# sets.h, held to two made cases: a right one passes both, a faulty one (no duplicates
# removed) only the first.
set -uo pipefail

bin=$1 # the folder of collection-check
check="$bin/collection-check"
work=$(mktemp -d "${TMPDIR:-/tmp}/platforms_test.XXXXXX")
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
failures=0

# fail MESSAGE: records a failed expectation.
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# grade DIR [OPTION...]: grades the class DIR with the made cases; its output in $out, its
# exit status in $status.
grade() {
    local dir=$1
    shift
    out=$("$check" --cases "$work/cases" --timeout 5 -j 2 "$@" --grade "$dir" setcalc 2>&1)
    status=$?
}

# row CSV NAME: the row of the CSV file whose first field is NAME.
row() { grep -F -- "$2," "$1" | head -n 1; }

# expect_row CSV NAME ROW_START: the row of NAME begins with ROW_START.
expect_row() {
    [[ $(row "$1" "$2") == "$3"* ]] || fail "$2's row in $(basename "$1"): \"$(row "$1" "$2")\", expected \"$3...\"; $out"
}

# feedback REPORT NAME TEXT: NAME's feedback in REPORT says TEXT.
feedback() {
    grep -qF -- "$3" "$1/feedback/$2.txt" ||
        fail "no \"$3\" in $2's feedback: $(cat "$1/feedback/$2.txt")"
}

mkdir -p "$work/cases/setcalc/distinct" "$work/cases/setcalc/repeated"
echo exercise | tee "$work/cases/setcalc/distinct/kind" >"$work/cases/setcalc/repeated/kind"
printf '3 1 2\n' >"$work/cases/setcalc/distinct/input"
printf '{1,2,3}\n' >"$work/cases/setcalc/distinct/output"
printf '2 2 1\n' >"$work/cases/setcalc/repeated/input"
printf '{1,2}\n' >"$work/cases/setcalc/repeated/output"

# The right sources in $work/right, the faulty ones in $work/faulty.
mkdir -p "$work/right" "$work/faulty"
cat >"$work/right/sets.h" <<'EOF'
/* A set of ints: sorted, without duplicates. */
int set_make(int *v, int n);
EOF
cat >"$work/right/sets.c" <<'EOF'
#include "sets.h"
int set_make(int *v, int n) {
    int k = 0;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (v[j] < v[i]) { int t = v[i]; v[i] = v[j]; v[j] = t; }
    for (int i = 0; i < n; ++i)
        if (k == 0 || v[k - 1] != v[i]) v[k++] = v[i];
    return k;
}
EOF
cat >"$work/right/main.c" <<'EOF'
#include <stdio.h>
#include "sets.h"
int main(void) {
    int v[64], n = 0;
    while (n < 64 && scanf("%d", &v[n]) == 1) ++n;
    n = set_make(v, n);
    putchar('{');
    for (int i = 0; i < n; ++i) printf(i ? ",%d" : "%d", v[i]);
    puts("}");
    return 0;
}
EOF
cp "$work/right/sets.h" "$work/right/main.c" "$work/faulty/"
sed 's/if (k == 0 || v\[k - 1\] != v\[i\]) v\[k++\] = v\[i\];/v[k++] = v[i];/' "$work/right/sets.c" >"$work/faulty/sets.c"
cmp -s "$work/right/sets.c" "$work/faulty/sets.c" && fail "the fault was not made"

# --- Moodle: the zip itself, folders per student and kind of submission.
m="$work/moodle"
mkdir -p "$m/Jane Doe_101_assignsubmission_file_" "$m/Jane Doe_101_assignsubmission_onlinetext_" \
    "$m/Bob Smith_102_assignsubmission_file_" "$m/Cy Young_103_assignsubmission_onlinetext_" \
    "$m/Dee Empty_104_assignsubmission_file_"
cp "$work/right/"* "$m/Jane Doe_101_assignsubmission_file_/"
echo '<p>see the files</p>' >"$m/Jane Doe_101_assignsubmission_onlinetext_/onlinetext.html"
echo '<p>I could not do it</p>' >"$m/Cy Young_103_assignsubmission_onlinetext_/onlinetext.html"
# A Makefile whose target is main, not setcalc, and which builds and runs a helper first
# (whose linker makes it executable by its path, in either wall).
mkdir -p "$m/Bob Smith_102_assignsubmission_file_/src"
cp "$work/faulty/"* "$m/Bob Smith_102_assignsubmission_file_/src/"
printf '#include <stdio.h>\nint main(void) { puts("made"); return 0; }\n' \
    >"$m/Bob Smith_102_assignsubmission_file_/src/stamp.c"
printf 'main: src/main.c src/sets.c src/sets.h\n\tcc -o stamp src/stamp.c && ./stamp >stamp.txt && rm stamp\n\tcc -o main src/main.c src/sets.c\n' \
    >"$m/Bob Smith_102_assignsubmission_file_/Makefile"
: >"$m/Dee Empty_104_assignsubmission_file_/setcalc.c"
(cd "$m" && python3 -m zipfile -c "$work/submissions.zip" ./*) || fail "no Moodle zip made"
grade "$work/submissions.zip"
[[ $status == 1 ]] || fail "Moodle: status $status, expected 1 (two students handed in nothing to grade): $out"
[[ $out == *"a Moodle download of 4 students"* ]] || fail "Moodle: the platform is not said: $out"
[[ $out != *assignsubmission* ]] || fail "Moodle: the platform's folder names reach the table: $out"
report="$work/submissions-report"
[[ $(wc -l <"$report/grades.csv") == 5 ]] || fail "Moodle: not one row per student: $(cat "$report/grades.csv")"
head -n 1 "$report/grades.csv" | grep -q '^name,id,score,max_score,' ||
    fail "Moodle: no id column: $(head -n 1 "$report/grades.csv")"
expect_row "$report/grades.csv" "Jane Doe" "Jane Doe,101,2,2,"
expect_row "$report/grades.csv" "Bob Smith" "Bob Smith,102,1,2,"
expect_row "$report/grades.csv" "Cy Young" "Cy Young,103,0,2,"
expect_row "$report/grades.csv" "Dee Empty" "Dee Empty,104,0,2,"
feedback "$report" "Jane Doe" "onlinetext"
feedback "$report" "Bob Smith" "the Makefile has no rule for setcalc; make made main, its one executable, which was used"
feedback "$report" "Cy Young" "no file was handed in"
feedback "$report" "Dee Empty" "setcalc.c is empty"
head -n 1 "$report/moodle-grades.csv" |
    grep -q '^"Identifier","Full name","Email address","Status","Grade","Maximum Grade",' ||
    fail "Moodle: the worksheet's header: $(head -n 1 "$report/moodle-grades.csv")"
expect_row "$report/moodle-grades.csv" "Participant 101" 'Participant 101,Jane Doe,,"Submitted for grading",2,2,'
expect_row "$report/moodle-grades.csv" "Participant 103" 'Participant 103,Cy Young,,"No submission",0,2,'

# --- Canvas: one flat folder, a resubmission, a late student, a file of no student.
c="$work/canvas"
mkdir -p "$c"
for f in main.c sets.h; do cp "$work/right/$f" "$c/doejane_12345_67890_$f"; done
cp "$work/faulty/sets.c" "$c/doejane_12345_67890_sets.c"
cp "$work/right/sets.c" "$c/doejane_12345_67890_sets-1.c"
for f in main.c sets.c sets.h; do cp "$work/faulty/$f" "$c/smithbob_LATE_222_333_$f"; done
echo "grading notes" >"$c/notes.txt"
grade "$c"
[[ $status == 0 ]] || fail "Canvas: status $status: $out"
[[ $out == *"a Canvas download of 2 students"* ]] || fail "Canvas: the platform is not said: $out"
[[ $out == *"not graded, of no student: notes.txt"* ]] || fail "Canvas: the loose file is not named: $out"
report="$work/canvas-report"
head -n 1 "$report/grades.csv" | grep -q '^name,id,late,score,' ||
    fail "Canvas: no id and late columns: $(head -n 1 "$report/grades.csv")"
expect_row "$report/grades.csv" doejane "doejane,12345,,2,2,"
expect_row "$report/grades.csv" smithbob "smithbob,222,late,1,2,"
feedback "$report" doejane "sets-1.c used as sets.c"
head -n 2 "$report/canvas-grades.csv" | tr -d '\r' | tr '\n' '|' |
    grep -q '^Student,ID,SIS User ID,SIS Login ID,Section,setcalc|    Points Possible,,,,,2|$' ||
    fail "Canvas: the import's head: $(head -n 2 "$report/canvas-grades.csv")"
expect_row "$report/canvas-grades.csv" doejane "doejane,12345,,,,2"
expect_row "$report/canvas-grades.csv" smithbob "smithbob,222,,,,1"

# --- GitHub Classroom: clones with src/ and include/, tests/, build/, CMake projects.
g="$work/classroom"
for s in ann ben cat; do
    mkdir -p "$g/hw1-$s/.git" "$g/hw1-$s/.github/workflows"
    echo "ref: refs/heads/main" >"$g/hw1-$s/.git/HEAD"
    echo "# setcalc" >"$g/hw1-$s/README.md"
    echo "on: push" >"$g/hw1-$s/.github/workflows/classroom.yml"
done
mkdir -p "$g/hw1-ann/src" "$g/hw1-ann/include" "$g/hw1-ann/tests" "$g/hw1-ann/build"
cp "$work/right/main.c" "$work/right/sets.c" "$g/hw1-ann/src/"
cp "$work/right/sets.h" "$g/hw1-ann/include/"
printf '#include "sets.h"\nint main(void) { return 0; }\n' >"$g/hw1-ann/tests/test_sets.c"
printf 'stale\n' >"$g/hw1-ann/build/setcalc"
mkdir -p "$g/hw1-ben/src" "$g/hw1-ben/include"
cp "$work/faulty/main.c" "$work/faulty/sets.c" "$g/hw1-ben/src/"
cp "$work/faulty/sets.h" "$g/hw1-ben/include/"
printf 'cmake_minimum_required(VERSION 3.13)\nproject(hw1 C)\ninclude_directories(include)\nadd_executable(app src/main.c src/sets.c)\n' \
    >"$g/hw1-ben/CMakeLists.txt"
mkdir -p "$g/hw1-cat/src" "$g/hw1-cat/build"
cp "$work/right/"* "$g/hw1-cat/src/"
printf 'cmake_minimum_required(VERSION 3.13)\nproject(hw1 C)\nadd_executable(setcalc src/main.c src/sets.c)\nadd_executable(helper src/sets.c src/main.c)\n' \
    >"$g/hw1-cat/CMakeLists.txt"
echo "CMAKE_HOME_DIRECTORY:INTERNAL=/elsewhere" >"$g/hw1-cat/build/CMakeCache.txt"
grade "$g"
[[ $status == 0 ]] || fail "GitHub Classroom: status $status: $out"
[[ $out == *"GitHub Classroom repositories of 3 students"* ]] || fail "GitHub Classroom: not said: $out"
report="$work/classroom-report"
expect_row "$report/grades.csv" ann "ann,2,2,"
feedback "$report" ann "found in src/, with the headers of include/; build/ and tests/ were set aside"
# CMake builds in either wall (it changes the modes of what it makes by their paths).
expect_row "$report/grades.csv" ben "ben,1,2,"
expect_row "$report/grades.csv" cat "cat,2,2,"
feedback "$report" ben "cmake made app, its one executable, which was used"
feedback "$report" cat "its CMakeLists.txt was built with cmake"

# --- Nothing to grade: status 2, and what the folder holds.
mkdir -p "$work/loose"
touch "$work/loose/setcalc.c.txt" "$work/loose/marks.xlsx"
grade "$work/loose"
[[ $status == 2 ]] || fail "a class with nothing to grade: status $status, expected 2: $out"
[[ $out == *"nothing in $work/loose could be graded: it holds 0 folders and 2 files (marks.xlsx and setcalc.c.txt)"* ]] ||
    fail "a class with nothing to grade does not say what it holds: $out"

# --- Archives that together pass the run folder's 512 MiB: 14 students, each with 45 MiB
# of zeros beside the right sources. Each is removed once the student's build is made.
z="$work/zips"
mkdir -p "$work/pack/work"
cp "$work/right/"* "$work/pack/work/"
for k in 1 2 3; do head -c $((15 << 20)) /dev/zero >"$work/pack/work/data$k.bin"; done
(cd "$work/pack" && python3 - "$work/big.zip" <<'EOP'
import sys, zipfile, os
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name in sorted(os.listdir("work")):
        z.write(os.path.join("work", name))
EOP
) || fail "no large zip made"
rm -r "$work/pack"
for s in $(seq -w 1 14); do
    mkdir -p "$z/s$s"
    cp "$work/big.zip" "$z/s$s/work.zip"
done
grade "$z"
[[ $status == 0 ]] || fail "large archives: status $status: $out"
[[ $(grep -c ',2,2,' "$work/zips-report/grades.csv") == 14 ]] ||
    fail "an archive cost another student their grade: $(cat "$work/zips-report/grades.csv")"

((failures == 0)) || exit 1
echo "platforms: every expectation held"
