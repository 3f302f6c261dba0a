#!/usr/bin/env bash
# bounded_test.sh SCENARIO BIN_DIR SOURCE_DIR [COMPILER]
#
# Whatever a submission prints, what collection-check holds and writes stays bounded, and
# what it writes of inputs and outputs comes back byte for byte:
#   flood     a class of two students whose programs print their menu for ever, and one
#             whose program prints 0x01 for ever, graded: the checker's peak and its files
#             stay small; --format json of textkit's cases with floods stays under 1 MiB
#   sessions  a rollbook built from the project's sources with a 10-byte name buffer, under
#             200 random sessions: at most 100 KB of report, one line for each failure that
#             was not shrunk, the shrunk ones last; --first-failure stops at the first
#   replay    random sessions of textkit, --format json: every input, and the expected and
#             actual outputs, fed again, give the same bytes, those that are not UTF-8 too
set -uo pipefail

scenario=$1 bin=$2 source=$3 cxx=${4:-c++}
check="$bin/collection-check"
cases="$source/tests/transcripts"
work=$(mktemp -d "${TMPDIR:-/tmp}/bounded_test.XXXXXX")
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
failures=0

# fail MESSAGE: records a failed expectation.
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# size FILE: its size in bytes.
size() { stat -c %s "$1"; }

# peak FILE: the largest resident set, in KiB, that /usr/bin/time -v wrote to FILE.
peak() { sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$1"; }

# timed LOG COMMAND...: runs COMMAND, under /usr/bin/time -v (its figures into LOG) when it
# is installed; the command's status.
timed() {
    local log=$1
    shift
    if [[ -x /usr/bin/time ]]; then
        /usr/bin/time -v -o "$log" "$@"
    else
        : >"$log"
        "$@"
    fi
}

case $scenario in
flood)
    # Programs that print for ever once their input has ended, as sources a student hands in.
    mkdir -p "$work/two/ann" "$work/two/ben" "$work/one/cy"
    cat >"$work/two/ann/flood.c" <<'EOF'
#include <stdio.h>
int main(void) {
    char line[256];
    while (fgets(line, sizeof line, stdin)) printf("1. Union\n2. Quit\nEnter your choice: ");
    for (;;) printf("1. Union\n2. Quit\nEnter your choice: ");
}
EOF
    cp "$work/two/ann/flood.c" "$work/two/ben/flood.c"
    printf '#include <stdio.h>\nint main(void) { for (;;) putchar(1); }\n' >"$work/one/cy/ones.c"
    for class in two one; do
        timed "$work/$class.time" "$check" --grade "$work/$class" --report "$work/$class-report" \
            -j 2 --cases "$cases" setcalc >"$work/$class.out" 2>&1 ||
            fail "$class: the class was not graded: $(tail -n 5 "$work/$class.out")"
        results="$work/$class-report/results.jsonl"
        echo "$class: peak $(peak "$work/$class.time") KiB, results.jsonl $(size "$results") bytes," \
            "report.html $(size "$work/$class-report/report.html") bytes"
        grep -q '"verdict":"output-limit"' "$results" || fail "$class: no output-limit verdict"
        (($(size "$results") < 16 << 20)) || fail "$class: results.jsonl holds $(size "$results") bytes"
        for f in "$work/$class-report"/feedback/*.txt; do
            (($(size "$f") < 1 << 20)) || fail "$class: $f holds $(size "$f") bytes"
        done
        # A sanitizer build's checker holds its shadow memory too: its peak is not the checker's.
        if [[ -s $work/$class.time && -z ${BOUNDED_SANITIZED:-} ]]; then
            (($(peak "$work/$class.time") < 256 * 1024)) ||
                fail "$class: the checker's peak was $(peak "$work/$class.time") KiB"
        fi
    done
    # The flood's message: the first difference, then the last lines, where the loop is.
    feedback="$work/two-report/feedback/ann.txt"
    grep -q "standard output differs at line" "$feedback" || fail "no first difference: $(head -c 2000 "$feedback")"
    grep -q "the last lines that reached standard output" "$feedback" || fail "no last lines: $(head -c 2000 "$feedback")"
    # textkit's cases, two of which flood, as one JSON line.
    cp "$bin/textkit" "$work/mytextkit" && printf '\0' >>"$work/mytextkit"
    cat >"$work/floods.sh" <<'EOF'
#!/bin/sh
input=$(cat; printf x)
case "$input" in *madam*|*hello*) exec yes '1. Length';; esac
printf '%s' "${input%x}" | "$1"
EOF
    chmod +x "$work/floods.sh"
    (cd "$work" && "$check" --all --format json --cases "$cases" textkit ./floods.sh ./mytextkit) \
        >"$work/textkit.json" 2>"$work/textkit.err"
    limits=$(grep -o '"verdict":"output-limit"' "$work/textkit.json" | wc -l)
    echo "textkit: $limits output-limit cases, the JSON $(size "$work/textkit.json") bytes"
    ((limits >= 2)) || fail "textkit: $limits output-limit cases: $(head -c 600 "$work/textkit.err")"
    (($(size "$work/textkit.json") < 1 << 20)) || fail "textkit: the JSON holds $(size "$work/textkit.json") bytes"
    ;;

sessions)
    # The collection's rollbook with a name buffer of 10 bytes instead of 20.
    mkdir -p "$work/src"
    cp -r "$source/records" "$source/console" "$work/src/"
    sed -i 's/inline constexpr int kName = 20;/inline constexpr int kName = 10;/' "$work/src/records/rollbook.hpp"
    [[ $(diff "$source/records/rollbook.hpp" "$work/src/records/rollbook.hpp" | grep -c '^>') == 1 ]] ||
        fail "the name buffer's line did not change"
    "$cxx" -std=c++20 -O1 -I"$work/src" "$work/src/records/rollbook.cpp" "$work/src/records/menu.cpp" \
        "$work/src/records/rollbook_main.cpp" "$work/src/console/console.cpp" -o "$work/rollbook" ||
        { echo "FAILED: the faulty rollbook does not build"; exit 1; }
    out="$work/random.out"
    timed "$work/random.time" "$check" --random 200 --seed 3 -j 2 rollbook "$work/rollbook" >"$out" 2>&1
    status=$?
    echo "200 sessions: status $status, $(size "$out") bytes, $(wc -l <"$out") lines, peak $(peak "$work/random.time") KiB"
    [[ $status == 1 ]] || fail "status $status: $(tail -n 3 "$out")"
    (($(size "$out") <= 100000)) || fail "the report holds $(size "$out") bytes"
    unshrunk=$(grep -c '^random-[0-9]* FAILED ([a-z-]*), not shrunk: ' "$out")
    ((unshrunk > 0)) || fail "no failure goes unshrunk: $(head -n 20 "$out")"
    too_long=$(grep '^random-[0-9]* FAILED ([a-z-]*), not shrunk: ' "$out" | awk 'length($0) > 160' | wc -l)
    ((too_long == 0)) || fail "$too_long lines of unshrunk failures are longer than 160 columns"
    # Every line of a failure that is not an unshrunk one comes after the last unshrunk line.
    last_unshrunk=$(grep -n ', not shrunk: ' "$out" | tail -n 1 | cut -d: -f1)
    first_shrunk=$(grep -n '^random-[0-9]* FAILED ([a-z-]*)$' "$out" | head -n 1 | cut -d: -f1)
    [[ -n $first_shrunk && $first_shrunk -gt $last_unshrunk ]] ||
        fail "the shrunk failures do not come last (line ${first_shrunk:-none}, the last unshrunk at $last_unshrunk)"
    [[ $(grep -c 'shrunk to [0-9]* input line' "$out") -ge 1 ]] || fail "no session was shrunk"
    [[ $(tail -n 1 "$out") =~ ^[0-9]+\ passed,\ [0-9]+\ failed$ ]] || fail "the count is not last: $(tail -n 1 "$out")"
    # --first-failure: no session after the first that fails.
    "$check" --random 200 --seed 3 -j 2 --first-failure rollbook "$work/rollbook" >"$work/first.out" 2>&1
    status=$?
    failed=$(grep -c '^random-[0-9]* FAILED' "$work/first.out")
    shown=$(grep -c '^random-[0-9]* \(ok\|FAILED\)' "$work/first.out")
    count=$(tail -n 1 "$work/first.out")
    echo "--first-failure: status $status, $count"
    [[ $status == 1 && $failed == 1 ]] || fail "--first-failure: $failed failures, status $status"
    [[ $count == "$((shown - 1)) passed, 1 failed" ]] || fail "--first-failure counts $count of $shown sessions shown"
    grep -q "^stopped at the first failure: $((200 - shown)) sessions not run$" "$work/first.out" ||
        fail "--first-failure does not say what was not run: $(tail -n 3 "$work/first.out")"
    ;;

replay)
    # A textkit that writes one byte more at the end: every session fails, and carries its
    # input, the expected and the actual output.
    cp "$bin/textkit" "$work/mytextkit" && printf '\0' >>"$work/mytextkit"
    printf '#!/bin/sh\n"$1"\nprintf !\n' >"$work/wrong.sh" && chmod +x "$work/wrong.sh"
    (cd "$work" && "$check" --all --random 40 --seed 11 --format json textkit ./wrong.sh ./mytextkit) \
        >"$work/random.json" 2>"$work/random.err"
    mkdir -p "$work/replay"
    # Each session's input, expected and actual output, into replay/K.{input,expected,actual}.
    (cd "$work" && perl -MJSON::PP -MMIME::Base64 -e '
        local $/; my $j = JSON::PP->new->utf8->decode(<STDIN>); my ($k, $raw) = (0, 0);
        sub bytes { my $v = shift; return decode_base64($v->{base64}) if ref $v;
                    my $s = $v; utf8::encode($s); return $s }
        for my $c (@{$j->{cases}}) {
            next unless exists $c->{input};
            $raw++ if ref $c->{input};
            for my $field (qw(input expected actual)) {
                die "$c->{name}: no $field\n" unless exists $c->{$field};
                die "$c->{name}: $field is cut\n" if ref $c->{$field} && exists $c->{$field}{parts};
                open(my $f, ">:raw", "replay/$k.$field") or die; print $f bytes($c->{$field}); close $f;
            }
            $k++;
        }
        print "$k $raw\n";' <"$work/random.json" >"$work/replay.count" 2>"$work/replay.err") ||
        fail "the JSON is not as the manual says: $(cat "$work/replay.err")"
    read -r sessions raw <"$work/replay.count"
    echo "$sessions sessions, $raw of them with input that is not UTF-8"
    [[ $sessions == 40 ]] || fail "$sessions sessions read back: $(head -c 600 "$work/random.err")"
    ((raw >= 1)) || fail "no session fed bytes that are not UTF-8"
    for ((k = 0; k < sessions; k++)); do
        "$bin/textkit" <"$work/replay/$k.input" >"$work/replay/$k.again" 2>/dev/null
        cmp -s "$work/replay/$k.again" "$work/replay/$k.expected" || fail "session $((k + 1)): the expected output does not replay"
        (cd "$work" && ./wrong.sh ./mytextkit <"$work/replay/$k.input" >"$work/replay/$k.theirs" 2>/dev/null)
        cmp -s "$work/replay/$k.theirs" "$work/replay/$k.actual" || fail "session $((k + 1)): the actual output does not replay"
    done
    ;;

*)
    echo "bounded_test.sh: no scenario $scenario"
    exit 2
    ;;
esac

echo "$failures failed"
((failures == 0))
