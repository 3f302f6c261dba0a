#!/usr/bin/env bash
# faults_test.sh BIN_DIR SOURCE_DIR [COMPILER]
#
# Random sessions catch what the exercise cases miss. Faulty versions of the collection's
# own programs, each built from the project's sources with one line changed, are held to
# the exercise cases and to collection-check --random: every fault must be found by the
# random sessions (which stop at the first session that shows it, shrunk), and the exercise cases must catch exactly the faults the table says they
# catch (the others lie off their paths: a size none of them has, a set of 19 or a table of
# 7, or input none of them holds, a tab, a byte above 127, a file beyond 8 KiB). Then a
# program that only knows setcalc's exercise cases by heart, which passes them all and must
# fail the random sessions; and, for a few faults, the shrunk session must be about as short
# as the shortest one that shows the fault.
set -uo pipefail

bin=$1 source=$2 cxx=${3:-c++}
check="$bin/collection-check"
cases="$source/tests/transcripts"
seed=3 # the random sessions' seed: every run draws the same sessions
sessions=200
work=$(mktemp -d "${TMPDIR:-/tmp}/faults_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# since: the seconds since the test started.
started=$EPOCHREALTIME
since() { awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.0f", b - a }'; }

# fail MESSAGE: records a failed expectation.
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# The faults, one a line: name | program | file | the change, a sed expression applied to
# the file | what the exercise cases do with the fault (caught or missed) | what it is.
faults=$(
    cat <<'EOF'
textkit-length|textkit|strings/menu.cpp|s/"Length of given String is %d "/"Length of given String is %d"/|caught|no blank after the length
textkit-last-start|textkit|strings/strings.cpp|s/for (int i = 0; i < la; ++i)/for (int i = 0; i < la - 1; ++i)/|missed|the search never starts at the last character
textline-choice-line|textline|strings/menu.cpp|s/if (v.compare_is_line) con.drop_line();//|caught|entry 4 compares with the rest of the choice's line
textline-high-bytes|textline|strings/strings.cpp|s/return static_cast<signed char>(c);/return static_cast<unsigned char>(c);/|missed|bytes above 127 compare as 128 to 255, not below 0
textwalk-menu|textwalk|strings/menu.cpp|s/5.PALINDROME/5.PALINDROM/|caught|a menu entry misspelt
textwalk-tab|textwalk|strings/strings.cpp|s/con.putchar(static_cast<unsigned char>(s\[k\]));/con.putchar(s[k] == '\\t' ? ' ' : static_cast<unsigned char>(s[k]));/|missed|a tab in a shown string written as a blank
polycalc-result|polycalc|poly/polycalc.cpp|s/Evaluation Result is = %d/Evaluation Result is =%d/|caught|no blank before the evaluation's value
rollbook-counter|rollbook|records/rollbook.cpp|0,/int counter = 0;/s//int counter = 1;/|caught|the bubble sort counts one operation too many
rollbook-passes|rollbook|records/rollbook.cpp|0,/for (int i = 0; i < count - 1; ++i) {/s//for (int i = 0; i < count - 1 \&\& i < 5; ++i) {/|missed|the bubble sort makes at most 5 passes: a table of 7 records or more shows too few
setcalc-heading|setcalc|sets/setcalc.cpp|s/"Intersection of A & B is :"/"Intersection of A and B is :"/|caught|the intersection's heading reworded
setcalc-19|setcalc|sets/sets.cpp|s/con.printf("{%d", set\[0\]);/con.printf(*count == 19 ? "{ %d" : "{%d", set[0]);/|missed|a set of exactly 19 elements shown with a blank after its brace
gridcalc-heading|gridcalc|matrix/menu.cpp|s/"Your Transpose of Matrix B :"/"Your Transpose of Matrix B:"/|caught|the second transpose's heading without its blank
gridcalc-7-rows|gridcalc|matrix/fixed.cpp|/void add(/,/^}/s/for_each_cell(rows, columns/for_each_cell(rows == 7 ? 6 : rows, columns/|missed|the sum of matrices of 7 rows leaves its last row as it was
gridheap-product-columns|gridheap|matrix/heap.cpp|s/for_each_cell(rows, second_columns,/for_each_cell(rows, columns,/|missed|a product wider than its first operand has columns of zeros
gridheap-product-shapes|gridheap|matrix/menu.cpp|s/return first.columns == second.rows;/return first.rows == second.columns;/|missed|a product's shapes checked the wrong way round
filetool-copied|filetool|files/filetool.cpp|s/File Contents Copied Successfully/File Contents Copied Succesfully/|caught|the copy's message misspelt
filetool-type-limit|filetool|files/filetool.cpp|s/while ((c = getc_unlocked(from)) != EOF)/for (long n = 0; (c = getc_unlocked(from)) != EOF \&\& n < 8192; ++n)/|missed|typing stops after 8 KiB
EOF
)

# folder_of PROGRAM: the subsystem folder that holds PROGRAM's sources.
folder_of() {
    case $1 in
    textkit | textline | textwalk) echo strings ;;
    polycalc) echo poly ;;
    rollbook) echo records ;;
    setcalc) echo sets ;;
    gridcalc | gridheap) echo matrix ;;
    filetool) echo files ;;
    esac
}

# sources_of PROGRAM: PROGRAM's sources in its folder, as its CMakeLists.txt names them: the
# subsystem library's, then the program's main.
sources_of() {
    local folder
    folder=$(folder_of "$1")
    sed -n 's/^add_library([a-z]* STATIC \(.*\))$/\1/p' "$source/$folder/CMakeLists.txt"
    echo "$1_main.cpp"
}

# compile SOURCE OBJECT [INCLUDE]: compiles one source of the collection as its faulty
# versions are built (INCLUDE: the copy it belongs to; the source tree by default).
compile() {
    "$cxx" -std=c++20 -O1 -I"${3:-$source}" -c "$1" -o "$2"
}

# Every faulty version differs from the collection's program in one source file: the
# others, and the console layer, are the same in all of them and compiled once, two at a
# time.
export -f compile
export source cxx
mkdir -p "$work/obj"
{
    echo console/console.cpp
    while IFS='|' read -r name program rest; do
        for s in $(sources_of "$program"); do echo "$(folder_of "$program")/$s"; done
    done <<<"$faults"
} | sort -u >"$work/unchanged"
# shellcheck disable=SC2016 # compile's words are expanded by the shell that xargs starts
while read -r file; do
    mkdir -p "$work/obj/$(dirname "$file")"
    printf '%s\0%s\0' "$source/$file" "$work/obj/${file%.cpp}.o"
done <"$work/unchanged" |
    xargs -0 -n 2 -P 2 bash -c 'compile "$1" "$2"' _ ||
    fail "the collection's own sources do not build"
echo "the sources the faults leave unchanged built at $(since) s"

# build NAME PROGRAM FILE CHANGE: builds the faulty PROGRAM into $work/NAME/PROGRAM from a
# copy of its subsystem and console/ in $work/NAME/src with CHANGE applied to FILE: the
# changed file compiled from the copy, the others as compiled above (a changed header
# compiles every source from the copy). Says what went wrong and returns 1 when the change
# did not apply as one changed line, or the build failed.
build() {
    local name=$1 program=$2 file=$3 change=$4
    local dir="$work/$name" folder objects=()
    folder=$(folder_of "$program")
    mkdir -p "$dir/src"
    cp -r "$source/$folder" "$source/console" "$dir/src/"
    sed -i -e "$change" "$dir/src/$file" || return 1
    local changed
    changed=$(diff "$source/$file" "$dir/src/$file" | grep -c '^>')
    if [[ $changed != 1 ]]; then
        echo "the change to $file changed $changed lines, not 1"
        return 1
    fi
    for s in $(sources_of "$program"); do
        if [[ $folder/$s == "$file" || $file != *.cpp ]]; then
            compile "$dir/src/$folder/$s" "$dir/${s%.cpp}.o" "$dir/src" 2>>"$dir/build.log" ||
                break
            objects+=("$dir/${s%.cpp}.o")
        else
            objects+=("$work/obj/$folder/${s%.cpp}.o")
        fi
    done
    "$cxx" "${objects[@]}" "$work/obj/console/console.o" -o "$dir/$program" 2>>"$dir/build.log" || {
        echo "it does not build: $(head -c 600 "$dir/build.log")"
        return 1
    }
}

# try NAME PROGRAM FILE CHANGE CASES WHAT: builds one faulty version and holds it to the
# exercise cases, which should have CASES it (caught or missed), and to the random sessions,
# which must find it; writes its result line to $work/NAME/result, and "bad" to
# $work/NAME/bad when an expectation failed.
try() {
    local name=$1 program=$2 file=$3 change=$4 want=$5 what=$6
    local dir="$work/$name" exe="$work/$name/$2" by_cases found problem="" msg
    if ! msg=$(build "$name" "$program" "$file" "$change"); then
        echo "$name: $msg" >"$dir/result"
        echo bad >"$dir/bad"
        return
    fi
    "$check" --cases "$cases" "$program" "$exe" >"$dir/cases.out" 2>&1
    case $? in
    0) by_cases=missed ;;
    1) by_cases=caught ;;
    *) by_cases="not run ($(tail -n 1 "$dir/cases.out"))" ;;
    esac
    local start=$EPOCHREALTIME
    "$check" --random "$sessions" --seed "$seed" --first-failure "$program" "$exe" >"$dir/random.out" 2>&1
    local status=$? took
    took=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
    case $status in
    0) found="NOT found" ;;
    1) found="found ($(tail -n 1 "$dir/random.out"), $(grep -o -m 1 'shrunk to [0-9]* input lines\?' "$dir/random.out"))" ;;
    *) found="not run ($(tail -n 1 "$dir/random.out"))" ;;
    esac
    [[ $by_cases == "$want" ]] || problem+=" [the cases should have $want it]"
    [[ $found == found* ]] || problem+=" [random sessions should find it]"
    printf '%-25s cases: %-6s  random: %s in %s s: %s%s\n' "$name" "$by_cases" "$found" \
        "$took" "$what" "$problem" >"$dir/result"
    [[ -z $problem ]] || echo bad >"$dir/bad"
}

# Every fault, two at a time.
names=()
while IFS='|' read -r name program file change want what; do
    fields=$(awk -F'|' '{ print NF }' <<<"$name|$program|$file|$change|$want|$what")
    [[ $fields == 6 && ($want == caught || $want == missed) ]] ||
        fail "the table's line of $name is not NAME|PROGRAM|FILE|CHANGE|caught or missed|WHAT"
    names+=("$name")
    while (($(jobs -rp | wc -l) >= 2)); do wait -n; done
    mkdir -p "$work/$name"
    try "$name" "$program" "$file" "$change" "$want" "$what" &
done <<<"$faults"
wait
missed=0
for name in "${names[@]}"; do
    cat "$work/$name/result"
    [[ -e $work/$name/bad ]] && fail "$name"
    grep -q 'cases: missed .*random: found' "$work/$name/result" && missed=$((missed + 1))
done
echo "every fault tried at $(since) s"
((missed >= 3)) || fail "only $missed faults are missed by the cases and found by random sessions"

# Shrinking is short: the shortest session that shows each of these faults, as a printf
# format, laid out one item a line as the sessions are. The session reported must be at
# most 3 input lines longer.
while IFS='|' read -r name program minimal; do
    exe="$work/$name/$program"
    [[ -x $exe ]] || continue
    # The hand-made session does show the fault.
    want=$(printf '%b' "$minimal" | "$bin/$program" 2>/dev/null)
    got=$(printf '%b' "$minimal" | "$exe" 2>/dev/null)
    [[ $got != "$want" ]] || fail "$name: the hand-made session does not show the fault"
    lines=$(printf '%b' "$minimal" | wc -l)
    shrunk=$(grep -o -m 1 'shrunk to [0-9]*' "$work/$name/random.out" | grep -o '[0-9]*$')
    echo "$name shrunk to ${shrunk:-?} input lines; the shortest that shows it has $lines"
    [[ -n $shrunk ]] && ((shrunk <= lines + 3)) && continue
    fail "$name: shrunk to ${shrunk:-no} input lines, the shortest session has $lines"
done <<'EOF'
textkit-last-start|textkit|a\n6\na\n7\n
gridheap-product-columns|gridheap|3\n1 1\n1 2\n1\n1\n1\nn\n
rollbook-passes|rollbook|7\n7\na\n0\n6\na\n0\n5\na\n0\n4\na\n0\n3\na\n0\n2\na\n0\n1\na\n0\n1\n4\n
setcalc-19|setcalc|19\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18\n19\n1\n1\n5\n
EOF

# A program that knows setcalc's exercise cases by heart: it reads all of its input and
# writes the output (and status) recorded for exactly that input, or nothing. It passes
# every exercise case, and random sessions must tell it from setcalc.

# quoted FILE: the file's bytes as one word of the shell, in single quotes.
quoted() {
    local text
    text=$(
        cat "$1"
        printf x
    )
    text=${text%x}
    printf "'%s'" "${text//\'/\'\\\'\'}"
}
lookup="$work/setcalc-by-heart"
{
    echo '#!/bin/sh'
    # shellcheck disable=SC2016 # the lookup script's own expansions
    echo 'input=$(cat; printf x)'
    # shellcheck disable=SC2016
    echo 'case $input in'
    exercise=0
    for kase in "$cases"/setcalc/*/; do
        [[ $(cat "$kase/kind" 2>/dev/null) == exercise ]] || continue
        exercise=$((exercise + 1))
        printf '%sx)\n' "$(quoted "$kase/input")"
        printf "    printf '%%s' %s\n" "$(quoted "$kase/output")"
        printf '    exit %s ;;\n' "$(cat "$kase/status" 2>/dev/null || echo 0)"
    done
    echo 'esac'
} >"$lookup"
chmod +x "$lookup"
"$check" --cases "$cases" setcalc "$lookup" >"$work/lookup-cases.out" 2>&1
status=$?
[[ $status == 0 && $(tail -n 1 "$work/lookup-cases.out") == "$exercise passed, 0 failed" ]] ||
    fail "the lookup table fails setcalc's exercise cases: $(tail -n 5 "$work/lookup-cases.out")"
"$check" --random "$sessions" --seed "$seed" setcalc "$lookup" >"$work/lookup-random.out" 2>&1
status=$?
echo "setcalc by heart: cases $(tail -n 1 "$work/lookup-cases.out"), random sessions $(tail -n 1 "$work/lookup-random.out")"
[[ $status == 1 ]] || fail "random sessions do not tell setcalc's cases by heart from setcalc"

echo "$failures failed, in $(since) s"
((failures == 0))
