#!/usr/bin/env bash
# run_places.sh [--build DIR] PLACE... [-- CTEST_ARG...]
#
# Runs the checker's own tests (ctest -L check: its conformance tests check/*, the hostile
# suite hostile/*, grading, the examples examples/*) in each PLACE named, one after the other,
# as root on an ordinary machine (CI's), and makes each place on the way:
#   root       as is: root on the bare machine
#   user       an ordinary account (ccstudent, created when missing), as a student runs it
#   container  root in a container: its own mount and PID namespaces, /proc freshly mounted
#              and masked as Docker masks it (so the kernel refuses a fresh /proc to a new
#              user namespace), clone3 answered ENOSYS (confine --container), as a grading
#              platform's autograder runs it
#   nouserns   the ordinary account where user namespaces are refused (confine --no-userns),
#              as under a hardened kernel or an AppArmor profile
# Each place first checks that it is what it claims, and fails otherwise. The sandbox is
# required everywhere (COLLECTION_CHECK_REQUIRE_SANDBOX=1): a test that would skip because the
# checker cannot sandbox fails instead; so does any hostile test that skips. Tests that skip for
# a missing tool (Valgrind, Chromium, GNU parallel) still skip.
#
# DIR is the build folder (default build/default, built beforehand, its tests run once by root
# so that CTest's list of unit tests is there); CTEST_ARGs replace the selection "-L check",
# for example: run_places.sh user -- -R hostile/snoop. Each place runs CTest on its own copy
# of the build's test files, in a folder of its own, since the build belongs to root.
# The user place makes the source and build trees readable by all (chmod -R a+rX) and their
# parent folders traversable.
# Prints "== place: NAME" before each place and "FAILED in place NAME: WHY" for each failure;
# exit status 1 when any place failed, 2 for a usage error.
#
# The places' scripts below are single-quoted: they expand in the place, not here.
# shellcheck disable=SC2016
set -euo pipefail

source=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$source/build/default
account=ccstudent
selection=(-L check)
places=()

# usage: prints the usage line and ends with status 2.
usage() {
    echo "usage: $0 [--build DIR] root|user|container|nouserns... [-- CTEST_ARG...]" >&2
    exit 2
}

while (($# > 0)); do
    case $1 in
    --build)
        (($# >= 2)) || usage
        build=$2
        shift 2
        ;;
    --)
        shift
        selection=("$@")
        break
        ;;
    root | user | container | nouserns)
        places+=("$1")
        shift
        ;;
    *) usage ;;
    esac
done
((${#places[@]} > 0)) || usage
[[ $(id -u) == 0 ]] || { echo "$0: run me as root: the places are made from root" >&2; exit 2; }
build=$(cd "$build" && pwd)
confine=$build/bin/confine
probe=$build/bin/confine_probe
[[ -x $confine && -x $probe ]] || { echo "$0: build confine and confine_probe in $build first" >&2; exit 2; }
# GoogleTest's lists of tests are written into the build tree when a test binary is newer
# than its list: done here, as root, so that no place has to write there.
ctest --test-dir "$build" -N >/dev/null
failed=()
work=$(mktemp -d "${TMPDIR:-/tmp}/places.XXXXXX")
chmod 755 "$work"
trap '((${#failed[@]} > 0)) && echo "== the places'"'"' folders are kept: $work" || rm -rf "$work"' EXIT

# test_folder NAME OWNER: a folder $work/NAME owned by OWNER, holding a copy of the build's
# CTest files (their commands name the build's programs by absolute path) and a tmp/ for the
# tests' own files; prints its path.
test_folder() {
    local folder=$work/$1
    mkdir -p "$folder/tmp"
    (cd "$build" && find . -name CTestTestfile.cmake -exec cp --parents {} "$folder/" \;)
    chown -R "$2:" "$folder"
    echo "$folder"
}

# The commands each place runs in it, as bash -c scripts: "$@" is the test folder and the
# CTest arguments. Helpers shared by the places come first.
common='
set -uo pipefail
place=$PLACE
# wrong WHY: the place is not what it claims; ends it.
wrong() { echo "FAILED in place $place: $*" >&2; exit 1; }
# tests FOLDER CTEST_ARG...: runs the selected tests, a skipped hostile test failing.
tests() {
    local folder=$1
    shift
    export TMPDIR=$folder/tmp COLLECTION_CHECK_REQUIRE_SANDBOX=1
    ctest --test-dir "$folder" --output-on-failure -j2 "$@" 2>&1 | tee "$folder/ctest.log"
    local status=${PIPESTATUS[0]}
    local skipped
    # Every hostile test must run here, but the one that installs the collection into a
    # system folder, which only root on the machine itself may write.
    skipped=$(sed -n "s/^[[:space:]]*[0-9]* - \(hostile\/[^ ]*\) (Skipped)$/\1/p" "$folder/ctest.log" |
        grep -v '^hostile/installed$' | tr "\n" " ")
    [[ -z $skipped ]] || { echo "FAILED in place $place: hostile tests skipped: $skipped" >&2; status=1; }
    ((status == 0)) || wrong "ctest failed (status $status); its output: $folder/ctest.log"
}
'
# What makes an ordinary account: not root, its own home.
is_user='
[[ $(id -u) != 0 ]] || wrong "running as root"
[[ -O $HOME && $HOME == "$(getent passwd "$(id -un)" | cut -d: -f6)" ]] || wrong "HOME $HOME is not its own"
'
declare -A check=(
    [root]='[[ $(id -u) == 0 ]] || wrong "not root"'
    [user]=$is_user'
grep -q "^Seccomp:[[:space:]]*0$" /proc/self/status || wrong "a seccomp filter is set"
"$PROBE" unshare-newuser | grep -qx ok || echo "note: this machine refuses new user namespaces already"'
    [container]='
[[ $(id -u) == 0 ]] || wrong "not root"
(($$ == 1)) || wrong "not the first process of its own PID namespace (pid $$)"
masked=0
for file in $MASKED_FILES; do
    [[ ! -e /proc/$file ]] || { [[ -c /proc/$file ]] && masked=$((masked + 1)); } || wrong "/proc/$file is not masked"
done
((masked > 0)) || wrong "no file of /proc is masked"
[[ $(awk '"'"'$5 == "/proc/sys" { print $6 }'"'"' /proc/self/mountinfo) == ro,* ]] || wrong "/proc/sys is writable"
[[ $("$PROBE" clone3) == ENOSYS ]] || wrong "clone3 is not answered ENOSYS"
[[ $("$PROBE" clone-newuser) == ok ]] || wrong "a new user namespace is refused"
! unshare -U -r -p -f -m --mount-proc true 2>/dev/null ||
    wrong "the kernel lets a new user namespace mount a fresh /proc"'
    [nouserns]=$is_user'
[[ $("$PROBE" clone3) == ENOSYS ]] || wrong "clone3 is not answered ENOSYS"
! unshare -U -r true 2>/dev/null || wrong "unshare -U makes a user namespace"
[[ $("$PROBE" clone-newuser) == EPERM ]] || wrong "clone makes a user namespace"'
)

# The files of /proc a container sees as /dev/null (those this kernel has).
export MASKED_FILES="kcore keys latency_stats timer_list timer_stats sched_debug"
# The container's own /proc: the machine's is detached (lazily, with what is mounted in it)
# and a fresh one for the new PID namespace mounted, then masked as Docker's default masks
# it: /dev/null over files that reveal the machine, read-only empty tmpfs over such folders,
# read-only the kernel's settings. Run as the container's first process.
container_proc='
umount -l /proc && mount -t proc -o nosuid,nodev,noexec proc /proc || wrong "cannot mount /proc"
for file in $MASKED_FILES; do
    [[ ! -e /proc/$file ]] || mount --bind /dev/null "/proc/$file" || wrong "cannot mask /proc/$file"
done
for folder in /proc/acpi /proc/asound /proc/scsi /sys/firmware /sys/devices/virtual/powercap; do
    [[ ! -d $folder ]] || mount -t tmpfs -o ro,nosuid,nodev,noexec tmpfs "$folder" || wrong "cannot mask $folder"
done
for path in bus fs irq sys sysrq-trigger; do
    [[ ! -e /proc/$path ]] || { mount --bind "/proc/$path" "/proc/$path" &&
        mount -o remount,bind,ro "/proc/$path"; } || wrong "cannot make /proc/$path read-only"
done
'

# in_place PLACE FOLDER: runs the place's checks, then the tests, in that place.
in_place() {
    local place=$1 folder=$2
    local script=$common${check[$place]}$'\ntests "$@"\n'
    local account_env=(env -i "PATH=/usr/local/bin:/usr/bin:/bin" "LANG=C.UTF-8"
        "HOME=$home" "USER=$account" "LOGNAME=$account" "XDG_CACHE_HOME=$home/.cache"
        "PLACE=$place" "PROBE=$probe")
    case $place in
    root) PLACE=$place PROBE=$probe bash -c "$script" bash "$folder" "${selection[@]}" ;;
    user) runuser -u "$account" -- "${account_env[@]}" bash -c "$script" bash "$folder" "${selection[@]}" ;;
    container)
        # Without the masks, a new user namespace mounts a fresh /proc: the refusal the
        # container's check sees is then the masks' doing.
        unshare -U -r -p -f -m --mount-proc true ||
            { echo "FAILED in place container: this machine refuses a fresh /proc to a new user namespace already" >&2; return 1; }
        unshare --mount --propagation private --pid --fork -- env PLACE="$place" PROBE="$probe" \
            bash -c "$common$container_proc"'exec "$CONFINE" --container -- bash -c "$0" bash "$@"' \
            "$script" "$folder" "${selection[@]}"
        ;;
    nouserns)
        runuser -u "$account" -- "${account_env[@]}" "$confine" --no-userns -- \
            bash -c "$script" bash "$folder" "${selection[@]}"
        ;;
    esac
}

# make_account: the ordinary account, created when missing, able to read the trees and run
# the build's programs. Sets home.
make_account() {
    getent passwd "$account" >/dev/null || useradd --create-home --shell /bin/bash "$account"
    home=$(getent passwd "$account" | cut -d: -f6)
    [[ -d $home ]] || { mkdir -p "$home" && chown "$account:" "$home"; }
    chmod -R a+rX "$source" "$build"
    # The files the suite writes into the build: cmake --install's list, the report's picture.
    local file
    for file in install_manifest.txt report-screenshot.png; do
        touch "$build/$file"
        chown "$account:" "$build/$file"
    done
    local folder
    for folder in "$source" "$build"; do
        while [[ $folder != / ]]; do
            folder=$(dirname "$folder")
            runuser -u "$account" -- test -x "$folder" || chmod a+x "$folder"
        done
    done
}

export CONFINE=$confine
home=
for place in "${places[@]}"; do
    echo "== place: $place"
    started=$SECONDS
    owner=root
    if [[ $place == user || $place == nouserns ]]; then
        [[ -n $home ]] || make_account
        owner=$account
    fi
    folder=$(test_folder "$place" "$owner")
    if in_place "$place" "$folder"; then
        echo "== place $place passed in $((SECONDS - started)) s"
    else
        echo "FAILED in place $place: see above (after $((SECONDS - started)) s)"
        failed+=("$place")
    fi
done
if ((${#failed[@]} > 0)); then
    echo "== failed places: ${failed[*]}"
    exit 1
fi
echo "== all places passed: ${places[*]}"
