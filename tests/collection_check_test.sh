#!/usr/bin/env bash
# collection_check_test.sh SCENARIO BIN_DIR CASES_DIR [PROGRAM | CMAKE BUILD_DIR]
#
# Drives collection-check the way its users do and checks what it says and its exit status:
#   program NAME   the collection's own NAME passes, by default and with --all
#   faults         wrong programs fail, each with the difference that shows their fault
#   hang           a program that never ends fails at the time limit, and the check goes on
#   usage          usage errors end with status 2 and a message on standard error
#   marks          every case carries a valid kind mark; an invalid mark is refused
#   install        an installed prefix checks a program from any folder
#   grade          a class of submissions (executables, sources, broken ones) graded at once
#   arrive         submissions as platforms hand them out: nested folders, archives, a
#                  Makefile, sources beside an old program, and folders with nothing to grade
#   record         a recorded case holds what the program did, and passes it afterwards
#   student        the help under a failure, --first-failure, repeated differences, slips
#   memcheck       a heap write past a row fails with memory-error even when output is right
#   compare        a case's comparison: exact, blanks ignored, or its own checker program;
#                  --list's columns
#   memory         an allocation refused at the memory limit fails with memory-limit, whatever
#                  the program printed; a program within the limit passes
#   java           a Java program run as the README says passes under the default limits
#                  (skipped, status 77, without java and javac)

#   regrade        one student re-graded into the class's report, the others kept; the whole
#                  class again once a case changed; identical sources named together

#   written        programs as students write them: C using the math library, headers
#                  beside a source, several sources, a stray main, C++23, scripts with
#                  modules beside them or a broken #! line, --option=value, and replay
#                  lines that build the program from its sources
set -uo pipefail

scenario=$1 bin=$2 cases=$3
check="$bin/collection-check"
work=$(mktemp -d "${TMPDIR:-/tmp}/check_test.XXXXXX")
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
failures=0

# fail MESSAGE: records a failed expectation.
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# The wrappers below run the collection's own programs, which the sandbox hides unless each
# is allowed by its own name.
own=()
for program in textkit textline textwalk polycalc rollbook setcalc gridcalc gridheap filetool \
    greeter pairsum charecho; do
    own+=(--allow "$bin/$program")
done
# run [ARG...]: runs collection-check, the build's programs visible in its sandbox; its
# output in $out, its diagnostics in $err, its exit status in $status.
run() {
    out=$("$check" --allow "$bin" "${own[@]}" "$@" 2>"$work/err")
    status=$?
    err=$(cat "$work/err")
}

# expect STATUS TEXT...: the last run ended with STATUS and its output (standard output and
# standard error together) holds every TEXT.
expect() {
    local want=$1
    shift
    [[ $status == "$want" ]] || fail "status $status, expected $want: $out $err"
    for text in "$@"; do
        [[ "$out$err" == *"$text"* ]] || fail "no \"$text\" in: $out $err"
    done
}

# last_line_is TEXT: the last line of the last run's standard output is exactly TEXT.
last_line_is() {
    [[ "$(tail -n 1 <<<"$out")" == "$1" ]] || fail "last line \"$(tail -n 1 <<<"$out")\", expected \"$1\""
}

# wrapper NAME BODY: an executable script $work/NAME running BODY.
wrapper() {
    printf '#!/bin/sh\n%s\n' "$2" >"$work/$1"
    chmod +x "$work/$1"
}

# made_case PROGRAM CASE KIND INPUT OUTPUT: a case folder under $work/cases.
made_case() {
    local d="$work/cases/$1/$2"
    mkdir -p "$d"
    echo "$3" >"$d/kind"
    printf '%s' "$4" >"$d/input"
    printf '%s' "$5" >"$d/output"
}

case $scenario in
program)
    program=$4
    total=$(find "$cases/$program" -mindepth 1 -maxdepth 1 -type d | wc -l)
    exercise=$(grep -lx exercise "$cases/$program"/*/kind | wc -l)
    run --cases "$cases" "$program" "$bin/$program"
    expect 0
    last_line_is "$exercise passed, 0 failed"
    run --all --cases "$cases" "$program" "$bin/$program"
    expect 0
    last_line_is "$total passed, 0 failed"
    [[ $(grep -c ' ok$' <<<"$out") == "$total" ]] || fail "not one ok line per case: $out"
    ;;

faults)
    mkdir "$work/tmp"
    export TMPDIR="$work/tmp" # where the working folders go, to be found if left behind
    # One word of the dialogue changed: the failure shows both lines, the first differing
    # one marked, with blanks made visible.
    wrapper wrong_polycalc "\"$bin/polycalc\" \"\$@\" | sed 's/Result/result/'"
    run --cases "$cases" polycalc "$work/wrong_polycalc"
    expect 1 "evaluation_of_second_polynomial FAILED" "standard output differs at line 17" \
        ">    17 | Enter·Which·Polynomial·you·want·to·evaluate·:Enter·value·of·X·for·polynomial·:Evaluation·result·is·=·-6$" \
        "Evaluation·Result·is·=·-6$" "choice_4_ends ok"
    last_line_is "$(grep -c ' ok$' <<<"$out") passed, $(grep -c ' FAILED (' <<<"$out") failed"
    # The faults a program can have, one case each.
    while IFS='|' read -r program kase name body want; do
        wrapper "$name" "$body"
        run --all --cases "$cases" --case "$kase" "$program" "$work/$name"
        expect 1 "$kase FAILED" "$want"
        last_line_is "0 passed, 1 failed"
    done <<EOF
greeter|two_introductions_no_final_line_feed|status_3|"$bin/greeter"; exit 3|exit status 3, expected 0
greeter|two_introductions_no_final_line_feed|noisy|"$bin/greeter"; echo oops >&2|standard error differs at line 1, column 1
greeter|two_introductions_no_final_line_feed|killed|kill -9 \$\$|killed by signal 9
greeter|two_introductions_no_final_line_feed|line_feed|"$bin/greeter"; echo|differs at line 3, column 35
filetool|copy_text|no_copy|"$bin/filetool" "\$@"; rm dst.txt|the file dst.txt is missing afterwards
filetool|copy_text|bad_copy|"$bin/filetool" "\$@"; echo x >>dst.txt|the file dst.txt differs at line
EOF
    # A status that the exercise leaves open is compared with --all only.
    wrapper gridheap_status_5 "\"$bin/gridheap\"; exit 5"
    run --cases "$cases" --case addition_2x2 gridheap "$work/gridheap_status_5"
    expect 0 "addition_2x2 ok"
    run --all --cases "$cases" --case addition_2x2 gridheap "$work/gridheap_status_5"
    expect 1 "exit status 5, expected 0"
    # A file that cannot be executed, and a case whose setup fails.
    printf 'not a program' >"$work/garbage"
    chmod +x "$work/garbage"
    run --cases "$cases" --case writes_30_status_2 pairsum "$work/garbage"
    expect 1 "the program could not be started: Exec format error"
    mkdir -p "$work/cases/filetool-case/setup_fails"
    cp -r "$cases/filetool/copy_text" "$work/cases/filetool-case/"
    mkdir "$work/cases/filetool-case/copy_text/after/sub"
    echo 'mkdir sub; ln -s sub link; chmod 000 sub' >"$work/cases/filetool-case/copy_text/setup"
    echo 'not a case' >"$work/cases/filetool-case/notes.txt"
    mkdir "$work/cases/filetool-case/setup_killed"
    echo exercise >"$work/cases/filetool-case/setup_killed/kind"
    echo 'kill -9 $$' >"$work/cases/filetool-case/setup_killed/setup"
    echo exercise >"$work/cases/filetool-case/setup_fails/kind"
    echo 'echo broken >&2; exit 3' >"$work/cases/filetool-case/setup_fails/setup"
    mkdir "$work/cases/filetool-case/stdout_unwritable"
    echo exercise >"$work/cases/filetool-case/stdout_unwritable/kind"
    echo no/such/folder/out >"$work/cases/filetool-case/stdout_unwritable/stdout-to"
    run --cases "$work/cases" filetool-case "$bin/filetool"
    expect 1 "copy_text ok" "setup_fails FAILED" "the case's setup script failed: broken" \
        "stdout_unwritable FAILED" "could not be started: opening the standard output file: No such file or directory" \
        "setup_killed FAILED"
    last_line_is "1 passed, 3 failed"
    left=$(ls -A "$TMPDIR")
    [[ -z $left ]] || fail "a working folder was left behind: $left"
    ;;

hang)
    made_case demo a_hangs exercise 'hang' 'done'
    made_case demo b_ends exercise 'go' 'done'
    made_case demo c_closes_then_hangs exercise 'close' ''
    made_case demo d_setup_hangs exercise 'go' 'done'
    # The sleeps carry this test's own mark, so that it looks only at what it started.
    nap="987.$$"
    echo "sleep $nap" >"$work/cases/demo/d_setup_hangs/setup"
    wrapper hanging "read w; [ \"\$w\" = close ] && exec >&- 2>&- && sleep $nap
[ \"\$w\" = hang ] && sleep $nap; printf done"
    started=$(date +%s)
    run --timeout 0.5 --cases "$work/cases" demo "$work/hanging"
    expect 1 "a_hangs FAILED" "the program did not end within 0.5 seconds" "b_ends ok" \
        "c_closes_then_hangs FAILED" "d_setup_hangs FAILED" "the case's setup script failed"
    last_line_is "1 passed, 3 failed"
    (($(date +%s) - started < 8)) || fail "the time limit was not kept"
    # Whatever they started has ended with the checker, the setup script's sleep included.
    for command in /proc/[0-9]*/cmdline; do
        [[ $(tr '\0' ' ' 2>/dev/null <"$command") == "sleep $nap " ]] &&
            fail "a process the cases started was left running: $command"
    done
    # Unsandboxed, a program can kill the process that starts the runs (its parent's
    # parent): the cases after it still run. One at a time: a case started beside it by
    # that process is stopped with it, as every run whose starter dies is.
    wrapper starter_killer 'read w; [ "$w" = hang ] && kill -9 "$(cut -d" " -f4 /proc/$PPID/stat)"
printf done'
    run --unsandboxed -j 1 --timeout 2 --cases "$work/cases" demo "$work/starter_killer"
    expect 1 "b_ends ok" "d_setup_hangs FAILED"
    # A case whose arguments are too many to hand over whole still runs, sandboxed.
    made_case many a_many_arguments exercise '' 20001
    seq -f 'argument%06g' 20000 >"$work/cases/many/a_many_arguments/args"
    wrapper count_arguments 'printf %s $(($# + 1))'
    run --cases "$work/cases" many "$work/count_arguments"
    expect 0 "a_many_arguments ok"
    ;;

usage)
    cp "$bin/pairsum" "$work/pairsum"
    mkdir -p "$work/ab/a" "$work/ab/b" "$work/p1" "$work/p2/pairsum"
    touch "$work/ab/file" "$work/p1/pairsum"
    while IFS='|' read -r want text args; do
        eval "run $args"
        expect "$want" "$text"
        [[ $want != 2 || -n $err ]] || fail "no message on standard error for: $args"
        [[ $want != 2 || -z $out ]] || fail "standard output not empty for: $args"
    done <<EOF
2|unknown program "polycal" (the programs are charecho, filetool,|--cases "$cases" polycal "$bin/polycalc"
2|$work/missing: No such file or directory|--cases "$cases" polycalc "$work/missing"
2|no-such-program: not found in any folder of PATH|--cases "$cases" polycalc no-such-program
2|$work: not an executable file|--cases "$cases" polycalc "$work"
2|unknown option --fast|--fast --cases "$cases" polycalc "$bin/polycalc"
2|unknown option -u (an argument of the program that begins with - goes after --|--cases "$cases" polycalc python3 -u x.py
2|--timeout needs a number of seconds above 0 (got "0")|--timeout 0 polycalc "$bin/polycalc"
2|--timeout needs a number of seconds above 0 (got "ten")|--timeout ten polycalc "$bin/polycalc"
2|--timeout needs a number of seconds above 0 (got "")|--timeout "" polycalc "$bin/polycalc"
2|--timeout needs a number of seconds above 0 (got "2s")|--timeout 2s polycalc "$bin/polycalc"
2|--timeout needs a number of seconds above 0 (got "1e9")|--timeout 1e9 polycalc "$bin/polycalc"
2|-: not found in any folder of PATH|--cases "$cases" polycalc -
2|unknown program "."|--cases "$cases" . "$bin/polycalc"
2|unknown program "tests/polycalc"|--cases "$cases" tests/polycalc "$bin/polycalc"
2|unknown program "x" (the programs are a, b)|--cases "$work/ab" x "$bin/polycalc"
2|--case needs a value|polycalc "$bin/polycalc" --case
2|no PROGRAM given|
2|no EXECUTABLE given|--cases "$cases" polycalc
2|polycalc has no case named "nothing"|--cases "$cases" --case nothing polycalc "$bin/polycalc"
2|$work/none: no such folder of cases|--cases "$work/none" polycalc "$bin/polycalc"
0|usage: collection-check [OPTION...] PROGRAM EXECUTABLE [ARGUMENT...]|--help
0|choice_4_ends exercise|--list --cases "$cases" polycalc
0|empty_input collection|--list --all --cases "$cases" polycalc
0|choice_4_ends exercise|--list polycalc
0|writes_30_status_2 ok|--cases "$cases" -- pairsum "$bin/pairsum" --help "" /tmp no-such-file
EOF
    # The default list holds the exercise cases only.
    run --list --cases "$cases" polycalc
    [[ $out != *collection* ]] || fail "--list without --all names a collection case"
    # EXECUTABLE on PATH (an empty entry is the current folder); an ARGUMENT naming a file
    # reaches the program as an absolute path, as an interpreter needs it.
    (cd "$work" && PATH=":/usr/bin:/bin" "$check" --cases "$cases" pairsum pairsum) >"$work/out" ||
        fail "pairsum was not found through PATH: $(cat "$work/out")"
    PATH="$work/p1:$work/p2:$bin" "$check" --cases "$cases" pairsum pairsum >"$work/out" ||
        fail "pairsum was not found past a file that is no program: $(cat "$work/out")"
    (cd "$work" && env -u PATH "$check" --cases "$cases" pairsum pairsum 2>"$work/err")
    [[ $? == 2 ]] || fail "an unset PATH found pairsum"
    printf 'exec "%s"\n' "$bin/greeter" >"$work/greeter.sh"
    (cd "$work" && "$check" --allow "$bin/greeter" --cases "$cases" greeter bash greeter.sh) >"$work/out" ||
        fail "an interpreted greeter failed: $(cat "$work/out")"
    ;;

marks)
    for folder in "$cases"/*/*/; do
        kind=
        [[ -f $folder/kind ]] && IFS= read -r -d '' kind <"$folder/kind"
        [[ $kind == $'exercise\n' || $kind == $'collection\n' ]] ||
            fail "$folder: no valid kind mark"
        [[ ! -e $folder/status-open || $kind == $'exercise\n' ]] ||
            fail "$folder: status-open in a collection case"
        [[ $kind == $'collection\n' || ! -s $folder/stderr ]] ||
            fail "$folder: an exercise case expects a diagnostic"
    done
    while IFS='|' read -r file content want; do
        rm -rf "$work/cases"
        made_case greeter case exercise '' ''
        printf "$content" >"$work/cases/greeter/case/$file"
        run --cases "$work/cases" greeter "$bin/greeter"
        expect 2 "$want"
    done <<EOF
kind|Exercise\n|kind: missing, or not the one word exercise or collection
kind|exercise collection\n|kind: missing, or not the one word exercise or collection
kind||kind: missing, or not the one word exercise or collection
status|256\n|status: not an exit status from 0 to 255
status|1x\n|status: not an exit status from 0 to 255
status|0000\n|status: not an exit status from 0 to 255
status||status: not an exit status from 0 to 255
EOF
    rm "$work/cases/greeter/case/kind" "$work/cases/greeter/case/status"
    run --cases "$work/cases" greeter "$bin/greeter"
    expect 2 "kind: missing, or not the one word exercise or collection"
    ;;

install)
    cmake=$4 build=$5
    "$cmake" --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install failed"
    installed="$work/prefix/share/console-collection/cases"
    diff -r "$cases" "$installed" >/dev/null || fail "the installed cases differ from the source's"
    [[ $(cd "$cases" && find . -printf '%m %p\n' | sort) == $(cd "$installed" && find . -printf '%m %p\n' | sort) ]] ||
        fail "the installed cases have other permissions"
    mkdir "$work/elsewhere"
    cp "$bin/polycalc" "$work/elsewhere/my-polycalc"
    out=$(cd "$work/elsewhere" && "$work/prefix/bin/collection-check" --all polycalc ./my-polycalc)
    status=$?
    expect 0
    last_line_is "$(find "$installed/polycalc" -mindepth 1 -maxdepth 1 -type d | wc -l) passed, 0 failed"
    ;;

grade)
    cls="$work/class"
    mkdir -p "$cls"/{good,crash,spaces,broken,empty,source,own} "$cls/Zoé/my work"
    # Not the collection's own file (a byte more at its end), yet the same program.
    cp "$bin/setcalc" "$cls/good/setcalc"
    printf '\0' >>"$cls/good/setcalc"
    cp "$bin/setcalc" "$cls/own/setcalc"
    wrapper crash_setcalc 'kill -SEGV $$'
    cp "$work/crash_setcalc" "$cls/crash/setcalc"
    wrapper spaced "\"$bin/setcalc\" | sed 's/^ {/   {/'"
    cp "$work/spaced" "$cls/spaces/setcalc"
    printf 'int main(void) { return missing; }\n' >"$cls/broken/main.c"
    printf '#include <unistd.h>\nint main(void) { return write(1, "x", 1) != 1; }\n' >"$cls/source/main.c"
    cp "$cls/source/main.c" "$cls/Zoé/my work/main.c"
    LC_ALL=C.UTF-8 run --grade "$cls" --presentation-credit 0.5 -j 2 setcalc
    expect 1 "good" "100.0%" "compile-error" "missing" "refused" "submissions graded into $cls-report" \
        "Zoé "
    report="$cls-report"
    for f in grades.csv results.jsonl report.html feedback/good.txt feedback/broken.txt; do
        [[ -s $report/$f ]] || fail "no $f in the report"
    done
    grep -q "this is the collection's own setcalc, not a submission" "$report/feedback/own.txt" ||
        fail "the collection's own setcalc was not refused: $(cat "$report/feedback/own.txt")"
    grep -q '^own,0,' "$report/grades.csv" || fail "the collection's own setcalc scored"
    [[ $(wc -l <"$report/results.jsonl") == 8 ]] || fail "not one result line per submission"
    # A fault repeated across cases is shown once, then named.
    grep -q 'the same difference as ' "$report/feedback/spaces.txt" ||
        fail "the repeated difference is shown in full again: $(cat "$report/feedback/spaces.txt")"
    # A build that failed is said once, its cases named once.
    if ! grep -q '^no case could run (' "$report/feedback/broken.txt" || grep -q FAILED "$report/feedback/broken.txt"; then
        fail "the cases of a failed build are said one by one: $(cat "$report/feedback/broken.txt")"
    fi
    # The replay names the student's own files, relative to their folder, ready for bash.
    grep -q "setcalc ./setcalc\$" "$report/feedback/spaces.txt" ||
        fail "no replay of ./setcalc: $(grep 'run it alone' "$report/feedback/spaces.txt")"
    grep -q "setcalc 'my work/'\$" "$report/feedback/Zoé.txt" ||
        fail "no replay of 'my work/': $(grep 'run it alone' "$report/feedback/Zoé.txt")"
    ! grep -rqF -e "$work" -e "--allow" "$report/feedback" ||
        fail "a feedback names the teacher's folders: $(grep -rF -e "$work" -e "--allow" "$report/feedback")"
    grep -q '"verdict":"executable"' "$report/results.jsonl" || fail "an executable's build is not named executable"
    head -n 1 "$report/grades.csv" | grep -q '^name,score,max_score,percent,build,' ||
        fail "grades.csv has no header row: $(head -n 1 "$report/grades.csv")"
    grep -q '^crash,0,' "$report/grades.csv" || fail "the crashing submission did not score 0"
    grep -q 'crashed' "$report/grades.csv" || fail "no crashed verdict in grades.csv"
    # Only the spacing differs: half the points of every case whose output shows a set.
    spaced=$(grep '^spaces,' "$report/grades.csv" | cut -d, -f2)
    [[ $spaced != 0 && $spaced != "$(grep '^good,' "$report/grades.csv" | cut -d, -f2)" ]] ||
        fail "presentation credit not given: $spaced"
    grep -q 'presentation' "$report/feedback/spaces.txt" || fail "no presentation verdict in feedback"
    grep -q 'right words, different spacing' "$report/feedback/spaces.txt" ||
        fail "the feedback does not say that only the spacing differs"
    # Everything gradable: status 0.
    rm -r "$cls/empty" "$cls/own"
    LC_ALL=C run --grade "$cls" --report "$work/out-report" setcalc
    expect 0 "submissions graded into $work/out-report" 'Zo\xc3\xa9 '
    # Cases that run out of time on one input line: that line named once.
    made_case menu two exercise "1
2
" "ok
"
    made_case menu two_again exercise "2
3
" "ok
"
    made_case menu one exercise "1
3
" "ok
"
    mkdir -p "$work/slow/ann"
    wrapper menu 'while read -r line; do [ "$line" = 2 ] && sleep 30; done; echo ok'
    cp "$work/menu" "$work/slow/ann/menu"
    run --cases "$work/cases" --grade "$work/slow" --timeout 1 menu
    expect 0 "submissions graded"
    feedback="$work/slow-report/feedback/ann.txt"
    grep -q "every case that ran out of time feeds the line 2; no case that passed does" "$feedback" ||
        fail "no line named for the time limits: $(cat "$feedback")"
    grep -q "it had read all its input (4 bytes) and was waiting, not running" "$feedback" ||
        fail "no clue to what the program did at the time limit: $(cat "$feedback")"
    grep -q -- "--cases CASES --case two menu ./menu" "$feedback" ||
        fail "the replay names the teacher's cases: $(grep 'run it alone' "$feedback")"
    grep -q "(CASES: the folder of cases your teacher hands out)" "$feedback" || fail "CASES is not explained"
    ;;

regrade)
    made_case echo one exercise "a
" "a
"
    made_case echo two exercise "b
" "b
"
    cls="$work/class"
    report="$cls-report"
    mkdir -p "$cls"/{ann,ben,cy,dee}
    printf '#include <stdio.h>\nint main(void) { int c; while ((c = getchar()) != EOF) putchar(c); return 0; }\n' \
        >"$cls/ann/main.c"
    # Ben's is Ann's with other blanks and comments, under another name.
    printf '/* my own work */\n#include <stdio.h>\nint main(void)\n{\n    int c;  // a byte\n    while ((c = getchar()) != EOF)\n        putchar(c);\n    return 0;\n}\n' \
        >"$cls/ben/echo.c"
    wrapper cat_echo 'exec cat'
    wrapper crash_echo 'kill -SEGV $$'
    cp "$work/cat_echo" "$cls/cy/echo"
    cp "$work/crash_echo" "$cls/dee/echo"
    run --cases "$work/cases" --grade "$cls" echo
    expect 0 "4 submissions graded into $report"
    head -n 1 "$report/grades.csv" | grep -q ',same_sources' || fail "no same_sources column: $(head -n 1 "$report/grades.csv")"
    grep -q '^ann,2,2,.*,ben' "$report/grades.csv" || fail "Ann's copy is not named: $(cat "$report/grades.csv")"
    grep -q '^cy,2,2,[^,]*,executable,[^,]*,[^,]*,\s*$' "$report/grades.csv" ||
        fail "Cy is named with others: $(grep '^cy,' "$report/grades.csv")"
    grep -q 'Identical sources' "$report/report.html" || fail "the page does not name the copies"
    grep -q '^dee,0,' "$report/grades.csv" || fail "the crash scored"
    echo "KEPT" >>"$report/feedback/ann.txt"
    # Dee hands in a fixed program (Cy's): only Dee is graded again, and named with Cy.
    cp "$work/cat_echo" "$cls/dee/echo"
    run --cases "$work/cases" --grade "$cls" --student dee echo
    expect 0 "1 of 4 submissions graded again into $report (the others kept)"
    grep -q '^dee,2,2,.*,cy' "$report/grades.csv" || fail "Dee's row was not replaced: $(cat "$report/grades.csv")"
    grep -q '^cy,2,2,.*,dee' "$report/grades.csv" || fail "Cy is not named with Dee: $(cat "$report/grades.csv")"
    [[ $(grep -c . "$report/grades.csv") == 5 && $(grep -c . "$report/results.jsonl") == 4 ]] ||
        fail "the class was not kept: $(cat "$report/grades.csv")"
    grep -q '^ann,2,2,.*,ben' "$report/grades.csv" || fail "the copies are no longer named after a re-grade"
    grep -q KEPT "$report/feedback/ann.txt" || fail "Ann's feedback was written again"
    ! grep -q crashed "$report/feedback/dee.txt" || fail "Dee's feedback is stale: $(cat "$report/feedback/dee.txt")"
    grep -q '4 students' "$report/report.html" || fail "the page lost the class"
    # A case changed: the whole class is graded again.
    printf 'c\n' >"$work/cases/echo/two/input"
    printf 'c\n' >"$work/cases/echo/two/output"
    run --cases "$work/cases" --grade "$cls" --student dee echo
    expect 0 "every student is graded again" "4 submissions graded into $report"
    ! grep -q KEPT "$report/feedback/ann.txt" || fail "Ann was not graded again after a case changed"
    run --cases "$work/cases" --grade "$cls" --student nobody echo
    expect 2 "--student nobody: no such student"
    run --cases "$work/cases" --grade "$cls" --report "$work/nowhere" --student ann echo
    expect 2 "cannot be read (grade the class first"
    ;;

arrive)
    made_case hello greets exercise "" "hello
"
    cls="$work/class"
    mkdir -p "$cls"/{zip,tgz,nested/hello-main,both,make/src,aout,papers,outside,link,script}
    printf '#include <stdio.h>\nint main(void) { puts("hello"); return 0; }\n' >"$work/hello.c"
    wrapper wrong 'echo goodbye'
    # A zip and a tar.gz as a platform hands them out, each holding one folder of sources.
    mkdir -p "$work/pack/hello-main"
    cp "$work/hello.c" "$work/pack/hello-main/hello.c"
    (cd "$work/pack" && python3 -m zipfile -c "$cls/zip/submission.zip" hello-main) ||
        fail "no zip made"
    tar -C "$work/pack" -czf "$cls/tgz/hello-main.tar.gz" hello-main || fail "no tar.gz made"
    cp "$work/hello.c" "$cls/nested/hello-main/hello.c"
    # Right sources beside an old, wrong program: the sources are graded.
    cp "$work/hello.c" "$cls/both/hello.c"
    cp "$work/wrong" "$cls/both/hello"
    # A Makefile building from a folder of its own, beside an old program it must make anew.
    cp "$work/hello.c" "$cls/make/src/main.c"
    printf 'hello: src/main.c\n\tcc -o hello src/main.c\n' >"$cls/make/Makefile"
    cp "$work/wrong" "$cls/make/hello"
    # Makefiles that make nothing, or a link to a program of the system.
    mkdir -p "$cls/norule" "$cls/makelink"
    printf 'all:\n\ttrue\n' >"$cls/norule/Makefile"
    printf 'hello:\n\tln -s /bin/echo hello\n' >"$cls/makelink/Makefile"
    cp "$work/wrong" "$cls/aout/a.out"
    touch "$cls/papers/notes.txt" "$cls/papers/report.pdf"
    # Archives that reach out: a path up the tree, and a link to a file of the system.
    (cd "$work/pack" && python3 - "$cls/outside/hello.zip" <<'EOP'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("../../escaped.c", "int main(void) { return 0; }\n")
EOP
    ) || fail "no hostile zip made"
    ln -s /etc/passwd "$work/pack/hello.c"
    tar -C "$work/pack" -cf "$cls/link/hello.tar" hello.c || fail "no tar made"
    wrapper hello 'echo hello'
    cp "$work/hello" "$cls/script/hello"
    run --cases "$work/cases" --grade "$cls" hello
    expect 1 "submissions graded into $cls-report"
    report="$cls-report"
    for student in zip tgz nested both make script; do
        grep -q "^$student,1,1," "$report/grades.csv" ||
            fail "$student did not score: $(grep "^$student," "$report/grades.csv") $(cat "$report/feedback/$student.txt")"
    done
    for student in aout papers; do
        grep -q "^$student,0,1,.*missing" "$report/grades.csv" || fail "$student is not missing"
    done
    for student in norule makelink; do
        grep -q "^$student,0,1,.*compile-error" "$report/grades.csv" || fail "$student was not a compile error"
    done
    for student in outside link; do
        grep -q "^$student,0,1,.*refused" "$report/grades.csv" || fail "$student is not refused"
    done
    # feedback STUDENT TEXT: the student's feedback says TEXT.
    feedback() {
        grep -qF -- "$2" "$report/feedback/$1.txt" ||
            fail "no \"$2\" in $1's feedback: $(cat "$report/feedback/$1.txt")"
    }
    feedback zip "unpacked from submission.zip, in hello-main/"
    feedback tgz "unpacked from hello-main.tar.gz, in hello-main/"
    feedback nested "found in hello-main/"
    feedback both "hello.c was built; the program hello beside it was not used"
    feedback make "the Makefile made hello; the program hello beside it was not used"
    feedback norule "No rule to make target"
    feedback makelink "the hello make made is a symbolic link, not a program"
    feedback aout "only a.out, an executable of another name"
    feedback papers "notes.txt and report.pdf, no program or source"
    feedback outside "hello.zip is not unpacked: ../../escaped.c leads out of the archive"
    feedback link "hello.tar is not unpacked: hello.c is a symbolic link"
    [[ ! -e $work/escaped.c && ! -e $cls/escaped.c && ! -e $cls/outside/escaped.c ]] ||
        fail "a file of the archive was written outside it"
    # The students' folders are left as they were: nothing is unpacked into them.
    [[ $(find "$cls" -name hello-main) == "$cls/nested/hello-main" ]] || fail "unpacked folders were left"
    ;;

record)
    mkdir -p "$work/rec/setcalc"
    out=$(printf '2\n1 2\n1\n3\n6\n' | "$check" --record mine --cases "$work/rec" setcalc "$bin/setcalc" 2>&1)
    status=$? err=
    expect 0 "recorded $work/rec/setcalc/mine"
    [[ $(cat "$work/rec/setcalc/mine/kind") == exercise ]] || fail "the recorded kind is not exercise"
    # A teacher's recorded case is graded by default, without --all.
    run --cases "$work/rec" setcalc "$bin/setcalc"
    expect 0 "mine ok" "1 passed, 0 failed"
    out=$(printf '6\n' | "$check" --record mine --cases "$work/rec" setcalc "$bin/setcalc" 2>&1)
    status=$? err=
    expect 2 "already exists"
    err=
    out=$(printf '6\n' | "$check" --record x --kind exercise --cases "$work/rec" setcalc "$bin/setcalc" 2>&1)
    [[ $(cat "$work/rec/setcalc/x/kind") == exercise ]] || fail "--kind exercise was not recorded"
    out=$(printf '6\n' | "$check" --record y --kind collection --cases "$work/rec" setcalc "$bin/setcalc" 2>&1)
    [[ $(cat "$work/rec/setcalc/y/kind") == collection ]] || fail "--kind collection was not recorded"
    run --cases "$work/rec" setcalc "$bin/setcalc"
    expect 0 "2 passed, 0 failed"
    [[ $out != *"y ok"* ]] || fail "a collection case was run without --all: $out"
    ;;

student)
    # The failure shows the input and the command that replays the case.
    wrapper bracket "\"$bin/setcalc\" | sed 's/}/]/'"
    run --cases "$cases" --case a123_b345_every_choice setcalc "$work/bracket"
    expect 1 "a123_b345_every_choice FAILED (wrong-output)" "the input fed (9 lines):" \
        "to run it alone: collection-check --allow $bin ${own[*]} --cases $cases --case a123_b345_every_choice setcalc $work/bracket"
    # An extra final line feed is named, and only the spacing differs.
    wrapper extra_end "\"$bin/greeter\"; echo"
    run --all --cases "$cases" --case two_introductions_no_final_line_feed greeter "$work/extra_end"
    expect 1 "FAILED (presentation)" "right words, different spacing" \
        "there is one line feed too many at the end"
    # The same difference in many cases is shown once; --first-failure stops at the first.
    wrapper silent 'exit 0'
    run --all --cases "$cases" setcalc "$work/silent"
    expect 1 "the same difference as "
    run --all --first-failure --cases "$cases" setcalc "$work/silent"
    expect 1 "stopped at the first failure:" "0 passed, 1 failed"
    # Sources that do not compile: the compiler's words, then every case named once.
    mkdir "$work/broken"
    printf 'int main(void) { return missing; }\n' >"$work/broken/main.c"
    run --cases "$cases" setcalc "$work/broken"
    expect 1 "the sources did not compile:" "no case could run (" "a123_b345_every_choice,"
    [[ $out != *FAILED* ]] || fail "a case of sources that did not build was said on its own: $out"
    # A crash with nothing on the pipe says where the output went.
    wrapper crash 'printf partial; kill -SEGV $$'
    run --cases "$cases" --case a123_b345_every_choice setcalc "$work/crash"
    expect 1 "FAILED (crashed)" "SIGSEGV" "partial"
    wrapper crash_silent 'kill -SEGV $$'
    run --cases "$cases" --case a123_b345_every_choice setcalc "$work/crash_silent"
    expect 1 "output still in the program's buffer is lost at a crash"
    # The collection's own program, found on PATH, is named as such.
    out=$(PATH="$bin:/usr/bin:/bin" "$check" --cases "$cases" setcalc setcalc 2>&1)
    [[ $out == *"this checks the collection's own setcalc; write ./setcalc to check yours"* ]] ||
        fail "no warning for the installed setcalc: $out"
    # The machine formats, on one submission.
    run --format json --cases "$cases" setcalc "$bin/setcalc"
    expect 0 '"verdict":"passed"'
    run --format tap --cases "$cases" --case a123_b345_every_choice setcalc "$work/bracket"
    expect 1 "TAP version 14" "1..1" "not ok 1 - a123_b345_every_choice"
    run --format wrong setcalc "$bin/setcalc"
    expect 2 "--format takes text, json, gradescope, junit or tap"
    ;;

memcheck)
    if ! command -v valgrind >/dev/null; then
        echo "memcheck: valgrind is not installed"
        exit 77
    fi
    mkdir -p "$work/cases/demo/sum"
    echo exercise >"$work/cases/demo/sum/kind"
    printf '6\n' >"$work/cases/demo/sum/output"
    cat >"$work/past_the_row.c" <<'EOC'
#include <stdio.h>
#include <stdlib.h>
int main(void) {
    int n = 4, *row = malloc(n * sizeof *row);
    long sum = 0;
    for (int i = 0; i <= n; i++) row[i] = i;
    for (int i = 0; i <= n; i++) sum += row[i];
    printf("%ld\n", sum - n); /* right, though it read past the row too */
    free(row);
    return 0;
}
EOC
    run --cases "$work/cases" demo "$work/past_the_row.c"
    expect 0 "sum ok"
    run --memcheck --cases "$work/cases" demo "$work/past_the_row.c"
    expect 1 "sum FAILED (memory-error)" "Invalid write of size 4"
    ;;

compare)
    # One input, one expected output, three ways of comparing it.
    for how in exact blanks checker; do
        made_case demo "sum_$how" exercise $'2 3\n' $'sum is\n5\n'
        echo "$how" >"$work/cases/demo/sum_$how/compare"
    done
    rm "$work/cases/demo/sum_exact/compare" # exact is the default
    # The teacher's checker: any output whose last line is the sum of the input's numbers.
    cat >"$work/cases/demo/sum_checker/checker" <<'EOC'
#!/bin/sh
read -r a b <"$1"
last=$(tail -n 1 "$3")
[ "$last" = "$((a + b))" ] && exit 0
echo "the last line is \"$last\", not the sum $((a + b))"
exit 1
EOC
    chmod +x "$work/cases/demo/sum_checker/checker"
    cp "$work/cases/demo/sum_checker/checker" "$work/sum_checker"
    # Each program against each case: the verdict, or ok.
    while IFS='|' read -r name body kase want; do
        wrapper "$name" "$body"
        run --cases "$work/cases" --case "$kase" demo "$work/$name"
        if [[ $want == ok ]]; then
            expect 0 "$kase ok"
        else
            expect 1 "$kase FAILED ($want)"
        fi
    done <<'EOT'
right|echo 'sum is'; echo 5|sum_exact|ok
right|echo 'sum is'; echo 5|sum_blanks|ok
right|echo 'sum is'; echo 5|sum_checker|ok
spaced|printf 'sum \t is   5'|sum_exact|presentation
spaced|printf 'sum \t is   5'|sum_blanks|ok
spaced|printf 'sum \t is   5'|sum_checker|wrong-output
reordered|printf 'is sum\n5\n'|sum_exact|wrong-output
reordered|printf 'is sum\n5\n'|sum_blanks|wrong-output
reordered|printf 'is sum\n5\n'|sum_checker|ok
joined|printf 'sumis 5\n'|sum_blanks|wrong-output
wrong|printf 'sum is\n6\n'|sum_checker|wrong-output
EOT
    # A rejection shows the checker's own words.
    run --cases "$work/cases" --case sum_checker demo "$work/wrong"
    expect 1 "the case's checker rejected the output (its exit status 1):" \
        'the last line is "6", not the sum 5'
    # A wrong answer dressed up as the right one for a terminal (6, then "move back one
    # column, erase the line's end, write 5") is rejected, and the checker's message shows
    # the escape sequence made visible, never as it acts.
    wrapper disguised "printf 'sum is\n6\033[1D\033[K5\n'"
    run --cases "$work/cases" --case sum_checker demo "$work/disguised"
    expect 1 "sum_checker FAILED (wrong-output)" '6\x1b[1D\x1b[K5'
    [[ "$out$err" != *$'\e'* ]] || fail "an escape byte of the output reached the terminal: $out"
    # The checker sees its three files alone: not the program's working folder, nor the
    # case's files.
    mkdir -p "$work/cases/demo/sum_checker/files"
    echo secret >"$work/cases/demo/sum_checker/files/planted"
    printf '#!/bin/sh\necho "it sees $(ls | tr "\\n" " ")"; exit 1\n' >"$work/cases/demo/sum_checker/checker"
    run --cases "$work/cases" --case sum_checker demo "$work/right"
    expect 1 "FAILED (wrong-output)" $'\n    it sees expected input output \n'
    rm -r "$work/cases/demo/sum_checker/files"
    # A checker that cannot judge leaves the case not-started, naming the checker: the fault
    # is the teacher's, not the student's.
    while IFS='|' read -r body want; do
        printf "$body\n" >"$work/cases/demo/sum_checker/checker"
        run --timeout 1 --cases "$work/cases" --case sum_checker demo "$work/right"
        expect 1 "sum_checker FAILED (not-started)" \
            "the case's checker $work/cases/demo/sum_checker/checker" "$want" \
            "the case cannot be judged"
    done <<'EOT'
#!/bin/sh\necho broken >&2; kill -SEGV $$|was killed by signal 11
#!/bin/sh\nwhile :; do :; done|did not end within 1 second
#!/nonexistent/interpreter|could not be started
EOT
    cp "$work/sum_checker" "$work/cases/demo/sum_checker/checker"
    # The case's files are checked when it is loaded: a comparison it does not know, a
    # checker missing, unusable or present without "compare checker".
    while IFS='|' read -r kase make undo want; do
        (cd "$work/cases/demo/$kase" && eval "$make")
        run --cases "$work/cases" demo "$work/right"
        expect 2 "$work/cases/demo/$kase/$want"
        (cd "$work/cases/demo/$kase" && eval "$undo")
    done <<'EOT'
sum_blanks|echo fuzzy >compare|echo blanks >compare|compare: not the one word exact, blanks or checker
sum_blanks|echo checker ./x >compare|echo blanks >compare|compare: not the one word exact, blanks or checker
sum_exact|cp ../sum_checker/checker .|rm checker|checker: a checker, but the case's compare file does not say checker
sum_checker|chmod -x checker|chmod +x checker|checker: not executable
sum_checker|mv checker ../moved|mv ../moved checker|checker: missing, and the case's compare file says checker
EOT
    # Every case passes the right program, graded as a class's submission too.
    run --cases "$work/cases" demo "$work/right"
    expect 0 "3 passed, 0 failed"
    mkdir -p "$work/class/ada" "$work/class/bob"
    cp "$work/right" "$work/class/ada/demo"
    cp "$work/wrong" "$work/class/bob/demo"
    run --grade "$work/class" --cases "$work/cases" demo
    expect 0 "2 submissions graded"
    grep -q 'the last line is "6", not the sum 5' "$work/class-report/feedback/bob.txt" ||
        fail "bob's feedback lacks the checker's words: $(cat "$work/class-report/feedback/bob.txt")"
    # --list: name, kind, points and visibility, one case a line.
    echo 5 >"$work/cases/demo/sum_checker/points"
    echo hidden >"$work/cases/demo/sum_checker/visibility"
    run --list --cases "$work/cases" demo
    expect 0
    [[ $out == $'sum_blanks exercise 1 visible\nsum_checker exercise 5 hidden\nsum_exact exercise 1 visible' ]] ||
        fail "--list: $out"
    ;;

memory)
    # Blocks of 64 MiB malloc'd under --memory 256: without end (untouched, the address
    # space's backstop refuses one; touched, the measure stops the run), or three (within).
    # Whatever the program prints when malloc fails, the verdict is memory-limit.
    made_case demo blocks exercise "" $'held\n'
    cat >"$work/blocks.c" <<'EOC'
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
char *volatile kept;
int main(void) {
    for (long i = 0; i < COUNT; ++i) {
        char *block = malloc(64L << 20);
        if (block == NULL) {
            puts("malloc failed");
            return 3;
        }
        if (TOUCH) memset(block, 1, 64L << 20);
        kept = block;
    }
    puts("held");
    return 0;
}
EOC
    while read -r count touch want; do
        run --memory 256 --cases "$work/cases" --cflags "-DCOUNT=$count -DTOUCH=$touch" demo \
            "$work/blocks.c"
        if [[ $want == ok ]]; then
            expect 0 "blocks ok"
        else
            expect 1 "blocks FAILED (memory-limit)" "$want"
        fi
    done <<EOF
1000000 0 the program ran out of memory: a request for
1000000 1 used more than 256 MiB (the memory limit)
3 0 ok
3 1 ok
EOF
    ;;

java)
    # A Java program, the way the README and the manual give: its class folder allowed, the
    # class path absolute, under the default limits.
    if ! command -v java >/dev/null || ! command -v javac >/dev/null; then
        echo "java: java or javac is not installed"
        exit 77
    fi
    mkdir "$work/java"
    cat >"$work/java/SetCalc.java" <<'EOJ'
public class SetCalc {
    public static void main(String[] args) throws java.io.IOException {
        java.io.BufferedReader in =
            new java.io.BufferedReader(new java.io.InputStreamReader(System.in));
        System.out.println("sets of " + in.readLine());
    }
}
EOJ
    javac -d "$work/java" "$work/java/SetCalc.java" || fail "javac failed"
    # As root without namespaces, the program's user 65534 reaches the folder through its
    # parents, as it would any allowed folder.
    chmod a+x "$work"
    chmod -R a+rX "$work/java"
    made_case setcalc java exercise $'java\n' $'sets of java\n'
    run --cases "$work/cases" --allow "$work/java" setcalc -- java -cp "$work/java" SetCalc
    expect 0 "java ok"
    last_line_is "1 passed, 0 failed"
    ;;

written)
    chmod 755 "$work" # the user runs go as, when root checks, reads the students' folders
    # Each student's program prints what the case "demo/sum" expects: 8 (2 to the power 3),
    # or says what it was given.
    made_case demo sum exercise '' $'8\n'
    mkdir -p "$work/cases/demo/args"
    echo exercise >"$work/cases/demo/args/kind"
    printf '%s\n' '3 arguments' >"$work/cases/demo/args/output"
    s="$work/s" # the students' folders
    mkdir -p "$s"/{pow,headers,several,stray,scripts,crlf,home}
    cat >"$s/pow/demo.c" <<'EOC'
#include <math.h>
#include <stdio.h>
int main(int argc, char **argv) {
    volatile double x = 2;
    (void)argv;
    if (argc > 1) return printf("%d arguments\n", argc - 1) < 0;
    return printf("%.0f\n", pow(x, 3)) < 0;
}
EOC
    printf '#define TWO 2\nint cube(int x);\n' >"$s/headers/myset.h"
    printf '#include "myset.h"\n#include <stdio.h>\nint cube(int x) { return x * x * x; }\nint main(void) { return printf("%%d\\n", cube(TWO)) < 0; }\n' \
        >"$s/headers/demo.c"
    cp "$s/headers/myset.h" "$s/several/"
    printf '#include "myset.h"\n#include <stdio.h>\nint main(void) { return printf("%%d\\n", cube(TWO)) < 0; }\n' \
        >"$s/several/main.c"
    printf '#include "myset.h"\nint cube(int x) { return x * x * x; }\n' >"$s/several/sets.c"
    cp "$s/several/"* "$s/stray/"
    printf 'int main(void) { return 1; }\n' >"$s/stray/main_old.c"
    printf '#include <cstdio>\n#include <utility>\nint main() { if (std::puts("8") < 0) std::unreachable(); }\n' \
        >"$s/cpp23.cpp"
    printf '#!/bin/sh\n. "$(dirname "$0")/lib.sh"\nanswer\n' >"$s/scripts/demo"
    printf 'answer() { echo 8; }\n' >"$s/scripts/lib.sh"
    printf '#!/bin/sh\r\necho 8\r\n' >"$s/crlf/demo"
    printf '#!/bin/missing-shell\necho 8\n' >"$s/scripts/missing"
    printf '#!/usr/bin/env missing-shell\necho 8\n' >"$s/scripts/missing-env"
    cp "$s/scripts/demo" "$s/scripts/lib.sh" "$s/home/"
    chmod +x "$s/scripts/"* "$s/crlf/demo" "$s/home/demo"
    # Each line: its arguments | the status | what the output holds. Built and passing, or
    # failing with the remedy named.
    while IFS='|' read -r args want text; do
        read -ra words <<<"$args"
        run --cases "$work/cases" --case sum demo "${words[@]}"
        expect "$want" "$text"
    done <<EOT
$s/pow/demo.c|0|1 passed, 0 failed
--cflags=-Wextra --libs=-lm $s/pow/demo.c|0|1 passed, 0 failed
--cflags -lm $s/pow/demo.c|0|1 passed, 0 failed
$s/headers/demo.c|0|1 passed, 0 failed
$s/several/main.c $s/several/sets.c|0|1 passed, 0 failed
-- $s/several/main.c $s/several/sets.c|0|1 passed, 0 failed
$s/several/main.c $s/several/sets.c $s/several/myset.h|0|1 passed, 0 failed
$s/several/main.c|1|built together: main.c, myset.h; as C17 (-std=c17)
$s/several/main.c|1|a function was not found: name every source after the first, or give their folder
$s/stray/|1|built together: main.c, main_old.c, myset.h, sets.c; as C17 (-std=c17)
$s/stray/|1|more than one of these files defines main: move the old one out of the folder
$s/stray/main.c $s/stray/sets.c $s/stray/main_old.c|1|leave the old one out of the files named
--cflags=-std=c11 $s/stray/|1|; as C11 (-std=c11)
$s/cpp23.cpp|1|built together: cpp23.cpp; as C++20 (-std=c++20; --cflags=-std=c++23 builds as C++23)
--cflags=-std=c++23 $s/cpp23.cpp|0|1 passed, 0 failed
$s/scripts/demo|0|1 passed, 0 failed
$s/crlf/demo|1|its first line, #!/bin/sh, ends with a carriage return: the file was saved with Windows line ends (CRLF)
$s/scripts/missing|1|its #! line names the interpreter /bin/missing-shell, which this machine does not have
$s/scripts/missing-env|1|its #! line asks env for missing-shell, which no folder of the run's PATH
--timeout=5 --cpu=2 --memory=256 $s/pow/demo.c|0|1 passed, 0 failed
--all=yes $s/pow/demo.c|2|--all takes no value (got "--all=yes")
--cflagz=-g $s/pow/demo.c|2|unknown option --cflagz=-g
$s/pow/demo.c --weird|2|goes after --: collection-check [OPTION...] PROGRAM EXECUTABLE -- --weird
EOT
    # A header missing from the source's folder is named, with the folder as the remedy.
    mkdir "$s/lost" && cp "$s/headers/demo.c" "$s/lost/"
    run --cases "$work/cases" --case sum demo "$s/lost/demo.c"
    expect 1 "the header myset.h was not found" "collection-check PROGRAM ./FOLDER/"
    run --cases "$work/cases" --case sum demo "$s/lost/demo.c" "$s/headers/myset.h"
    expect 0 "1 passed, 0 failed"
    # The words after the sources, and every word after --, are the program's arguments.
    run --cases "$work/cases" --case args demo "$s/pow/demo.c" a b c
    expect 0 "1 passed, 0 failed"
    run --cases "$work/cases" --case args demo "$s/several/main.c" "$s/several/sets.c" -- "$s/pow/demo.c" b c
    expect 1 "args FAILED"
    run --cases "$work/cases" --case args demo "$s/pow/demo.c" -- "$s/several/sets.c" b c
    expect 0 "1 passed, 0 failed"
    # The line that runs a failing case alone names every source, and "--" before an
    # argument that is one.
    run --cases "$work/cases" --case args demo "$s/several/main.c" "$s/several/sets.c" -- "$s/pow/demo.c" b c
    [[ $out == *"demo $s/several/main.c $s/several/sets.c -- $s/pow/demo.c b c"* ]] ||
        fail "the line to run it alone lost the sources or the --: $out"
    # What a run may see holds where runs are sandboxed (a build that runs programs
    # unsandboxed by default, as the coverage build does, hides nothing).
    run --cases "$work/cases" --case sum demo "$s/pow/demo.c"
    if [[ $err != *"--unsandboxed: the program runs with limits only"* ]]; then
        # A script in the home folder: its folder stays hidden, and its failure says which
        # --allow helps.
        HOME="$s/home" run --cases "$work/cases" --case sum demo "$s/home/demo"
        expect 1 "the script's folder, $s/home, is not visible to the run (it is your home folder)" \
            "needs --allow FILE"
        HOME="$s/home" run --allow "$s/home/lib.sh" --cases "$work/cases" --case sum demo "$s/home/demo"
        expect 0 "1 passed, 0 failed"
        # The cases stay hidden from a script kept in their folder, whose folder is not shown.
        cp "$s/scripts/demo" "$s/scripts/lib.sh" "$work/cases/demo/"
        run --cases "$work/cases" --case sum demo "$work/cases/demo/demo"
        expect 1 "sum FAILED"
        rm "$work/cases/demo/demo" "$work/cases/demo/lib.sh"
        # A script whose folder holds the cases sees its folder, but not the cases in it.
        printf '#!/bin/sh\n. "$(dirname "$0")/lib.sh"\nanswer\ncat "$(dirname "$0")/cases/demo/sum/output" || echo hidden\n' \
            >"$work/peek"
        chmod +x "$work/peek"
        cp "$s/scripts/lib.sh" "$work/"
        run --cases "$work/cases" --case sum demo "$work/peek"
        expect 1 "sum FAILED" "standard output differs at line 2" "hidden$"
        # In a graded class, a student's script sees its own folder, never a classmate's: one
        # that copies the answer from the next folder fails.
        mkdir -p "$work/copying/ann" "$work/copying/eve"
        printf '#!/bin/sh
echo 8 >/dev/null
echo 7
' >"$work/copying/ann/demo"
        printf '#!/bin/sh
cat "$(dirname "$0")/../ann/demo" >/dev/null 2>&1 && echo copied || echo 8
' \
            >"$work/copying/eve/demo"
        chmod -R a+rX "$work/copying" && chmod +x "$work/copying"/*/demo
        run --cases "$work/cases" --case sum --grade "$work/copying" demo
        grep -q '^eve,1,1,' "$work/copying-report/grades.csv" ||
            fail "eve's script reached a classmate's folder: $(cat "$work/copying-report/grades.csv")"
    fi

    # Replay lines from sources: the line of a failing random session builds the program
    # beside its source and runs it there, for one student and in a class's feedback.
    mkdir -p "$s/replay" "$work/class/sam"
    printf '#include <stdio.h>\nint main(void) { return puts("no sum") < 0; }\n' >"$s/replay/pairsum.c"
    cp "$s/replay/pairsum.c" "$work/class/sam/"
    # replayed FILE: the output of the first "to replay it" line of FILE, run in its folder.
    replayed() {
        local line
        line=$(grep -m1 '^  to replay it: ' "$1") || return 1
        (cd "$(dirname "$1")" && bash -c "${line#  to replay it: }" 2>&1)
    }
    run --random 1 --seed 1 pairsum "$s/replay/pairsum.c"
    expect 1 "to replay it: cc -O2 -Wall -std=c17 $s/replay/pairsum.c -o $s/replay/pairsum -lm && printf"
    printf '%s\n' "$out" >"$s/replay/said.txt"
    [[ $(replayed "$s/replay/said.txt") == "no sum" ]] ||
        fail "the replay line does not run the program: $(replayed "$s/replay/said.txt")"
    run --random 1 --seed 1 --grade "$work/class" pairsum
    expect 0 "1 submissions graded"
    feedback="$work/class-report/feedback/sam.txt"
    grep -q "to replay it: cc -O2 -Wall -std=c17 ./pairsum.c -o ./pairsum -lm && printf" "$feedback" ||
        fail "no replay line that builds the program in sam's feedback: $(cat "$feedback")"
    cp "$feedback" "$work/class/sam/said.txt"
    [[ $(replayed "$work/class/sam/said.txt") == "no sum" ]] ||
        fail "the feedback's replay line does not run the program: $(replayed "$work/class/sam/said.txt")"
    ;;

*)
    fail "unknown scenario $scenario"
    ;;
esac

((failures == 0)) || exit 1
echo "$scenario: every expectation held"
