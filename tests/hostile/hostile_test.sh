#!/usr/bin/env bash
# hostile_test.sh SCENARIO CHECKER ATTACK HELPER SETCALC TRANSCRIPTS
#
# Runs the attack program (attack.cpp) through collection-check as a student would, and
# checks that the sandbox holds:
#   snoop    looking for the expected output finds nothing and passes no case
#   links    links from the working folder to the expected files or the checker's own
#            files are never followed
#   vandal   cases, the checker and the machine stay as they were
#   forge    forged verdicts, signals and case names never change the report
#   limits   every limit ends the run with its own verdict, the checker's memory bounded
#   bomb     a fork bomb is contained and leaves no process behind
#   linger   no process outlives its case, and none keeps the case waiting
#   holes    no network, no secret, no hanging case file, no stop, no folder left behind
#   walls    what every wall refuses: memory outside the limits, other runs, the machine,
#            the collection's own programs; a run's memory counted as a whole; as root, a
#            program only its owner may run
#   installed  the collection installed in a system folder that every run sees: its
#            programs and cases stay hidden there, in every wall (as root only)
#   meet     runs side by side (-j 2) see nothing of each other: no socket listed, reached
#            or shared, in plain checks and in a class's grading, in every wall here
# Exit status 77 (skipped) where the kernel refuses the sandbox, unless
# COLLECTION_CHECK_REQUIRE_SANDBOX is 1: then 1 (failed).
set -uo pipefail

scenario=$1 check=$2 attack=$3 helper=$4 setcalc=$5 transcripts=$6
work=$(mktemp -d "${TMPDIR:-/tmp}/hostile_test.XXXXXX")
marker="hostile-marker-$$-$RANDOM"
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/tmp"
export TMPDIR="$work/tmp" # the checker's working folders: found there if left behind
cd "$work" || exit 1
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# run [ARG...]: runs the checker, bounded; its output in $out, its diagnostics in $err, its
# exit status in $status, its wall time in whole seconds in $took.
run() {
    local start=$SECONDS
    out=$(timeout -k 5 60 "$check" "$@" 2>"$work/.stderr")
    status=$?
    err=$(cat "$work/.stderr")
    took=$((SECONDS - start))
    if [[ $status == 2 && $err == *"cannot sandbox"* ]]; then
        # Where the sandbox is required (tests/places/run_places.sh), a refusal fails.
        if [[ ${COLLECTION_CHECK_REQUIRE_SANDBOX:-} == 1 ]]; then
            echo "FAILED: the checker cannot sandbox here, and the sandbox is required: $err" >&2
            exit 1
        fi
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

# lacks TEXT...: the last run's output holds no TEXT.
lacks() {
    for text in "$@"; do
        [[ "$out$err" != *"$text"* ]] || fail "\"$text\" in: $out $err"
    done
}

last_line_is() {
    [[ "$(tail -n 1 <<<"$out")" == "$1" ]] || fail "last line \"$(tail -n 1 <<<"$out")\", expected \"$1\""
}

within() { ((took <= $1)) || fail "the checker took ${took} s, more than $1 s: $out"; }

# walls_here: the walls this place has, as options: the default one, and the wall without
# namespaces as well where the default is the namespaces and Landlock is there.
walls_here() {
    walls=(default)
    "$check" --walls | grep -q '^Here, runs are held by: namespaces' &&
        "$check" --walls | grep -q '^  landlock    available' && walls+=(landlock)
}

# made_case NAME OUTPUT [INPUT]: the case $work/cases/setcalc/NAME, kind exercise.
made_case() {
    local d="$work/cases/setcalc/$1"
    mkdir -p "$d"
    echo exercise >"$d/kind"
    printf '%s' "${3:-}" >"$d/input"
    printf '%s' "$2" >"$d/output"
}

# left MARKER: the processes whose command line holds MARKER, after a second of grace.
left() {
    local f words found=
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        found=
        for f in /proc/[0-9]*/cmdline; do
            mapfile -d '' words 2>/dev/null <"$f" || continue
            [[ "${words[*]}" == *"$1"* ]] && found+=" ${f%/cmdline}"
        done
        [[ -z $found ]] && return 0
        sleep 0.1
    done
    echo "$found"
}

# no_leftovers: no process holds the marker, and no working folder is left in $TMPDIR.
no_leftovers() {
    local found
    found=$(left "$marker")
    [[ -z $found ]] || fail "processes left behind ($1):$found"
    [[ -z $(ls -A "$TMPDIR") ]] || fail "left in TMPDIR ($1): $(ls -A "$TMPDIR")"
}

case $scenario in
snoop)
    # With every clue it can gather, it passes no case of its own.
    # Its walk of the file system takes longer than the fitted wall limit of a case: the
    # limits are its own.
    limits=(--timeout 20 --cpu 10)
    run --all "${limits[@]}" --cases "$transcripts" setcalc "$attack" snoop
    expect 1
    [[ $(grep -c ' ok$' <<<"$out") == 0 ]] || fail "cases passed: $(grep ' ok$' <<<"$out")"
    last_line_is "0 passed, $(find "$transcripts/setcalc" -mindepth 1 -maxdepth 1 -type d | wc -l) failed"
    # And it sees no path to the cases, neither its own case folder nor the real ones.
    # Without namespaces, Landlock keeps what a folder holds, not that it is there: the one
    # path the attack was built knowing may be seen to exist, and nothing in it.
    clean="clean
"
    if "$check" --walls | grep -q '^Here, runs are held by: landlock'; then
        clean="seen: $transcripts
"
    fi
    mkdir -p "$work/transcripts"
    made_case report "$clean"
    mv "$work/cases/setcalc" "$work/transcripts/"
    run "${limits[@]}" --cases "$work/transcripts" setcalc "$attack" snoop report
    expect 0 "report ok"
    run "${limits[@]}" --cases "$transcripts" --case choice_6_ends setcalc "$attack" snoop report
    lacks "seen: /" "seen: \\"
    [[ $clean == clean* ]] || lacks "seen: $work"
    ;;

links)
    # A link from its working folder to the expected file, or to a folder above it, or to a
    # file that only the checker's user may read: the checker follows none of them.
    secret="secret-$marker"
    echo "$secret" >"$work/secret" && chmod 600 "$work/secret"
    while read -r name after target link; do
        d="$work/transcripts/setcalc/$name"
        made_case "$name" "" && mkdir -p "$work/transcripts/setcalc" && mv "$work/cases/setcalc/$name" "$d"
        mkdir -p "$d/after/$(dirname "$after")" && echo "expected" >"$d/after/$after"
        target=${target/CASE/$d}
        run --cases "$work/transcripts" --case "$name" setcalc "$attack" link "${target/WORK/$work}" "$link"
        expect 1 "$name FAILED"
        lacks "$secret"
    done <<'EOF'
linked_file result CASE/after/result result
linked_folder sub/result CASE/after/sub sub
linked_secret result WORK/secret result
linked_secret_folder sub/secret WORK sub
EOF
    ;;

vandal)
    # Its targets: a copy of the cases, a copy of the checker (the one that runs it), a
    # folder anyone may write to; and, only adding a file, the source tree and the machine.
    mkdir -p "$work/cases" "$work/bin" && cp -r "$transcripts/setcalc" "$work/cases/"
    cp "$check" "$work/bin/" && check="$work/bin/$(basename "$check")"
    mkdir -m 777 "$work/open"
    hash_all() { find "$work/cases" "$work/open" "$work/bin" -printf '%p %m %s\n' -type f -exec sha256sum {} + | sort; }
    before=$(hash_all)
    one=$(find "$work/cases/setcalc" -name output | head -n 1)
    run --all --cases "$work/cases" --case choice_6_ends setcalc "$attack" vandal "mark=-$marker" \
        "$one" "$(dirname "$one")" "$work/cases" "$check" "$work/bin" "$work/open" "$work"
    expect 1
    lacks "changed " "remounted "
    [[ "$(hash_all)" == "$before" ]] || fail "files changed: $(diff <(echo "$before") <(hash_all))"
    for place in "$work" "$work/open" "$transcripts" "$transcripts/../.." /root /tmp /var/tmp /dev/shm /usr/bin /etc; do
        for made in "vandal-was-here-$marker" "vandal-dir-$marker"; do
            [[ ! -e $place/$made ]] || { fail "$place/$made appeared" && rm -rf "${place:?}/$made"; }
        done
    done
    no_leftovers vandal
    run --all --cases "$work/cases" setcalc "$setcalc"
    expect 0
    ;;

forge)
    real=$(find "$transcripts/setcalc" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    mkdir -p "$work/cases/setcalc"
    for name in plain $'clear\e[2Jscreen' $'fake\n9 passed, 0 failed'; do
        cp -r "$real" "$work/cases/setcalc/$name"
    done
    # Forged lines on the checker's streams, stopped and killed parents: the report is the
    # checker's own, and it ends.
    run --all --cases "$work/cases" setcalc "$attack" forge
    expect 1
    within 30
    [[ $out$err != *[$'\e\r\a']* ]] || fail "a raw escape, carriage return or bell in: $(cat -v <<<"$out$err")"
    last_line_is "0 passed, 3 failed"
    [[ $(grep -cE '^[0-9]+ passed, [0-9]+ failed$' <<<"$out") == 1 ]] || fail "a forged count: $out"
    # The case names made visible: no escape reaches the terminal, no name starts a line.
    run --all --cases "$work/cases" setcalc "$setcalc"
    expect 0
    last_line_is "3 passed, 0 failed"
    [[ $(grep -c ' ok$' <<<"$out") == 3 ]] || fail "not three ok lines: $out"
    [[ $out != *$'\e'* ]] || fail "a raw escape in the report: $(cat -v <<<"$out")"
    grep -q 'clear.*2Jscreen ok$' <<<"$out" || fail "the escape's name not shown on one line: $out"
    grep -q 'fake.*9.passed,.0.failed ok$' <<<"$out" || fail "the line feed's name not shown on one line: $out"
    ;;

limits)
    # mode|options|MiB of input|expected output|verdict line|texts of the explanation|checker
    # MiB at most
    folders=$("$check" --walls | grep -q '^Working folders: folders' && echo measured)
    while IFS='|' read -r mode options input output verdict texts mib; do
        name=${mode// /_}
        made_case "$name" ""
        head -c "$((${input:-0} << 20))" /dev/zero >"$work/cases/setcalc/$name/input"
        printf '%b' "$output" >"$work/cases/setcalc/$name/output"
        # shellcheck disable=SC2086
        "$helper" maxrss "$work/.rss" timeout -k 5 60 "$check" --cases "$work/cases" --case "$name" \
            $options setcalc "$attack" $mode >"$work/.stdout" 2>"$work/.stderr"
        status=$? out=$(cat "$work/.stdout") err=$(cat "$work/.stderr")
        if [[ $status == 2 && $err == *"cannot sandbox"* ]]; then
            [[ -n ${COLLECTION_CHECK_REQUIRE_SANDBOX:-} ]] && { echo "FAILED: the sandbox is refused: $err" >&2; exit 1; }
            echo "skipped: $err"
            exit 77
        fi
        # A working folder that is no file system of its own is stopped, not filled.
        if [[ ($mode == fill || $mode == closed || $mode == removed) && $folders == measured ]]; then
            verdict="FAILED (output-limit)" texts="its working folder"
        fi
        IFS=';' read -ra wanted <<<"$texts"
        expect "$([[ $verdict == ok ]] && echo 0 || echo 1)" "$name $verdict" "${wanted[@]}"
        rss=$(cat "$work/.rss")
        # A checker built with AddressSanitizer keeps its shadow and freed memory too.
        mib=$((mib * ${HOSTILE_MEMORY_SCALE:-1}))
        ((rss <= mib * 1024)) || fail "$mode: the checker's peak memory ${rss} KiB, more than $mib MiB"
        no_leftovers "$mode"
    done <<'EOF'
flood|--output-limit 8||y|FAILED (output-limit)|the output limit;to standard output|200
flood err|--output-limit 8|||FAILED (output-limit)|the output limit;to standard error|200
newlines|--output-limit 64 --timeout 20||short\n|FAILED (wrong-output)|standard output differs|200
noread|--timeout 20|16||FAILED (wrong-output)|standard output differs|200
spin|--cpu 1 --timeout 20|||FAILED (time-limit)|processor time|200
sleep|--timeout 1|||FAILED (time-limit)|wall time|200
hog|--memory 64|||FAILED (memory-limit)|the memory limit|200
files|--open-files 16||13\n|ok||200
bigfile|--file-size 1||EFBIG 1048576\n|ok||200
bigfile keep|--file-size 1|||FAILED (crashed)|SIGXFSZ|200
fill|--file-size 32 --timeout 20||full\n|ok||200
closed|--file-size 64 --timeout 20||full\n|ok||200
removed|--file-size 64 --timeout 20||full\n|ok||200
segv||||FAILED (crashed)|SIGSEGV|200
unflushed|||never shown\n|FAILED (crashed)|SIGABRT;buffer|200
EOF
    ;;

walls)
    # mode and its arguments|options|input|expected output|verdict line|texts of the
    # explanation
    bin=$(dirname "$check")
    walls_here
    while IFS='|' read -r mode options input output verdict texts; do
        name=${mode%% *}
        made_case "$name" "" "$(printf '%b' "$input")"
        printf '%b' "$output" >"$work/cases/setcalc/$name/output"
        for wall in "${walls[@]}"; do
            [[ $wall == default ]] && on=() || on=(--wall "$wall")
            # shellcheck disable=SC2086
            run "${on[@]}" --cases "$work/cases" --case "$name" $options setcalc "$attack" $mode
            IFS=';' read -ra wanted <<<"$texts"
            expect "$([[ $verdict == ok ]] && echo 0 || echo 1)" "$name $verdict" "${wanted[@]}"
            no_leftovers "$mode"
        done
    done <<ROWS
hoard|||refused\n|ok|
others|||refused\nown: changed\n|ok|
peek|||refused\n|ok|
together 6 200|--timeout 10 --memory 256 --processes 16|||FAILED (memory-limit)|processes together
together 2 40|--timeout 10 --memory 256 --processes 16||held together\n|ok|
run|--allow $bin|$bin/setcalc\n|x|FAILED (wrong-output)|could·not·run·it
run|--allow /usr/bin|/usr/bin/true\n||ok|
steal||$work/cases/setcalc/hoard/output\n|refused\n|ok|
steal|--allow $bin|$bin/setcalc\n|refused\n|ok|
ROWS
    # As root, a program only its owner may run is still run, as the unprivileged user.
    if [[ $(id -u) == 0 ]]; then
        mkdir -m 700 "$work/private"
        install -m 700 "$attack" "$work/private/attack"
        made_case quiet ""
        run --cases "$work/cases" --case quiet setcalc "$work/private/attack" quiet
        expect 0 "quiet ok"
    fi
    ;;

installed)
    # The collection installed under /usr/local/lib, a system folder every run reads: the
    # view's shared part and Landlock's rules must still hide its programs and its cases.
    [[ $(id -u) == 0 && -w /usr/local/lib ]] || {
        echo "skipped: installing into /usr/local/lib needs root"
        exit 77
    }
    prefix=$(mktemp -d /usr/local/lib/hostile_installed.XXXXXX)
    trap 'rm -rf "$prefix"; chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
    chmod 755 "$prefix"
    mkdir -p "$prefix/bin" "$prefix/share/console-collection/cases"
    cp "$check" "$setcalc" "$prefix/bin/"
    cp -r "$transcripts/setcalc" "$prefix/share/console-collection/cases/"
    made_case peek $'hidden\nhidden\n'
    secrets=("$prefix/bin/setcalc" "$prefix/share/console-collection/cases/setcalc/choice_6_ends/output")
    {
        echo '#!/bin/sh'
        for f in "${secrets[@]}"; do
            echo "if [ -n \"\$(head -c 4 '$f' 2>/dev/null)\" ]; then echo seen; else echo hidden; fi"
        done
    } >"$work/peek.sh"
    chmod 755 "$work/peek.sh"
    built=$check
    check="$prefix/bin/collection-check"
    for wall in namespaces landlock; do
        run --wall "$wall" --cases "$work/cases" --case peek setcalc "$work/peek.sh"
        expect 0 "peek ok"
    done
    # The same script, unsandboxed, sees them: the case would catch a sandbox that does not.
    run --unsandboxed --cases "$work/cases" --case peek setcalc "$work/peek.sh"
    expect 1 "peek FAILED"
    # A copy of an install bound over /usr/local, in a mount namespace of the test's own
    # (nothing of the machine changes), with a copy put by hand deeper in it: the checker of
    # the build tree, which has no copy beside it, hides them all the same.
    fake=$(mktemp -d "$prefix/usrlocal.XXXXXX")
    chmod 755 "$fake"
    mkdir -p "$fake/bin" "$fake/share/console-collection/cases" "$fake/lib/copy/bin"
    cp "$setcalc" "$fake/bin/" && cp "$setcalc" "$fake/lib/copy/bin/"
    cp -r "$transcripts/setcalc" "$fake/share/console-collection/cases/"
    {
        echo '#!/bin/sh'
        for f in /usr/local/bin/setcalc /usr/local/lib/copy/bin/setcalc; do
            echo "if [ -n \"\$(head -c 4 '$f' 2>/dev/null)\" ] || '$f' </dev/null >/dev/null 2>&1; then echo seen; else echo hidden; fi"
        done
        f=/usr/local/share/console-collection/cases/setcalc/choice_6_ends/output
        echo "if [ -n \"\$(head -c 4 '$f' 2>/dev/null)\" ]; then echo seen; else echo hidden; fi"
    } >"$work/peek.sh"
    made_case peek $'hidden\nhidden\nhidden\n'
    printf '#!/bin/bash\nexec unshare --mount --propagation private bash -c %q "%s" "%s" "$@"\n' \
        'mount --bind "$0" /usr/local && exec "$@"' "$fake" "$built" >"$work/bound.sh"
    chmod 755 "$work/bound.sh"
    check="$work/bound.sh"
    for wall in namespaces landlock; do
        run --wall "$wall" --cases "$work/cases" --case peek setcalc "$work/peek.sh"
        expect 0 "peek ok"
    done
    run --unsandboxed --cases "$work/cases" --case peek setcalc "$work/peek.sh"
    expect 1 "peek FAILED"
    ;;

meet)
    # Two cases at once of one program, then two students graded at once, each binding an
    # abstract socket named after a secret of its own and its input, then listing and
    # connecting (tests/hostile/meet.c): each must be alone, in every wall this place has.
    command -v cc >/dev/null || {
        echo "skipped: no C compiler for the submissions"
        exit 77
    }
    meet=$(dirname "${BASH_SOURCE[0]}")/meet.c
    cc -O -o "$work/meet" "$meet" || exit 1
    walls_here
    for input in abcd efgh; do made_case "in$input" $'alone\n' "$input"; done
    mkdir -p "$work/class"
    for who in ann ben; do
        mkdir -p "$work/class/$who"
        { echo "#define SECRET \"${who^^}SECRET\"" && cat "$meet"; } >"$work/class/$who/main.c"
    done
    for wall in "${walls[@]}"; do
        options=(-j 2 --timeout 20 --cases "$work/cases")
        [[ $wall == default ]] || options+=(--wall "$wall")
        run "${options[@]}" setcalc "$work/meet"
        expect 0 "inabcd ok" "inefgh ok"
        lacks "saw" "reached" "met "
        # Cases at once: the two runs' times overlap in the results.
        run "${options[@]}" --grade "$work/class" setcalc
        expect 0
        for who in ann ben; do
            grep -q "^$who,2,2," "$work/class-report/grades.csv" ||
                fail "$wall: $who met the other: $(grep "^$who," "$work/class-report/grades.csv") $(cat "$work/class-report/feedback/$who.txt")"
        done
        grep -rl "SECRET" "$work/class-report/feedback" && fail "$wall: a secret in the feedback"
        rm -rf "$work/class-report"
        no_leftovers "meet, $wall"
        # Watches on the neighbouring working folders, each run making a file in its own.
        run "${options[@]}" setcalc "$attack" neighbours
        expect 0 "inabcd ok" "inefgh ok"
        lacks "mine-"
    done
    ;;

bomb)
    # Every process of the bomb carries the marker: none may be left, and nothing else of
    # the machine is looked at.
    made_case bomb ""
    for processes in 32 1000; do
        run --timeout 3 --processes "$processes" --cases "$work/cases" setcalc "$attack" forkbomb "$marker"
        within 30
        [[ $status == 0 || $status == 1 ]] || fail "status $status: $out $err"
        no_leftovers "forkbomb, $processes processes"
    done
    ;;

linger)
    made_case linger ""
    for how in fork double setsid holdout recreate; do
        run --timeout 20 --cases "$work/cases" --case linger setcalc "$attack" linger "$how" "$marker-$how"
        within 10 # the one left behind sleeps 30 s: the case waits for none of them
        [[ $status == 0 || $status == 1 ]] || fail "$how: status $status: $out $err"
        marker="$marker-$how" no_leftovers "$how"
    done
    sleep 3 # after the time the last one would have recreated its working folder
    no_leftovers recreate
    ;;

holes)
    # No connection to a listener of the machine; the listener itself works.
    : >"$work/log"
    "$helper" listen "$work/port" "$work/log" 20 &
    listener=$!
    for _ in $(seq 50); do [[ -s $work/port ]] && break; sleep 0.1; done
    port=$(cat "$work/port")
    "$attack" connect "$port" >"$work/connected"
    for _ in $(seq 20); do [[ $(wc -l <"$work/log") == 3 ]] && break; sleep 0.1; done
    [[ $(wc -l <"$work/log") == 3 ]] || fail "the listener does not record all three connections: $(wc -l <"$work/log") $(cat "$work/connected")"
    made_case network ""
    walls_here
    for wall in "${walls[@]}"; do
        [[ $wall == default ]] && on=() || on=(--wall "$wall")
        run "${on[@]}" --cases "$work/cases" --case network setcalc "$attack" connect "$port"
        lacks connected
        sleep 1
        [[ $(wc -l <"$work/log") == 3 ]] || fail "$wall: a connection from inside the sandbox"
    done
    kill "$listener" && wait "$listener"
    rm -f "/tmp/hostile-$port.sock"
    # No variable of the checker's environment reaches the program.
    made_case environment ""
    secret="secret-$marker"
    SECRET_TOKEN=$secret run --cases "$work/cases" --case environment setcalc "$attack" env
    expect 1 "PATH="
    lacks "$secret"
    # Case files that never end or never open: refused or failed, never waited for.
    while read -r file how; do
        name="bad_${file//\//_}_$how"
        made_case "$name" ""
        mkdir -p "$work/cases/setcalc/$name/files" "$work/cases/setcalc/$name/after"
        rm -f "$work/cases/setcalc/$name/$file"
        if [[ $how == fifo ]]; then mkfifo "$work/cases/setcalc/$name/$file"; else ln -s /dev/zero "$work/cases/setcalc/$name/$file"; fi
        "$helper" maxrss "$work/.rss" timeout -k 5 60 "$check" --cases "$work/cases" --case "$name" \
            setcalc "$attack" quiet >"$work/.stdout" 2>"$work/.stderr"
        status=$? out=$(cat "$work/.stdout") err=$(cat "$work/.stderr")
        [[ $status == 1 || $status == 2 ]] || fail "$name: status $status: $out $err"
        [[ $status == 1 ]] && expect 1 "$name FAILED"
        [[ "$out$err" == *"$(basename "$file")"* ]] || fail "$name: the file not named: $out $err"
        (($(cat "$work/.rss") <= 200 * 1024 * ${HOSTILE_MEMORY_SCALE:-1})) || fail "$name: the checker took $(cat "$work/.rss") KiB"
        [[ -n ${HOSTILE_VERBOSE:-} ]] && echo "$name: $status $(head -c 300 <<<"$out$err")"
        rm -rf "${work:?}/cases/setcalc/$name"
    done <<'EOF'
input fifo
output zero
kind zero
args fifo
stderr zero
setup fifo
files/pipe fifo
files/zero zero
after/pipe fifo
after/zero zero
EOF
    # SIGSTOP to its parent and to every process: the checker goes on and ends.
    made_case stop "stopped
"
    run --cases "$work/cases" --case stop setcalc "$attack" stop
    within 20
    expect 0 "stop ok"
    # 3000 nested folders, none writable: the working folders are removed all the same.
    made_case nest ""
    run --cases "$work/cases" --case nest setcalc "$attack" nest
    expect 0 "nest ok"
    no_leftovers nest
    ;;

*)
    echo "unknown scenario $scenario" >&2
    exit 2
    ;;
esac

((failures == 0)) || {
    echo "$failures failed expectation(s) in $scenario" >&2
    exit 1
}
echo "$scenario: every expectation held"
