#!/usr/bin/env bash
# grade-over-machines.sh [-S SSHLOGIN]... [-j N] [-o FILE] PROGRAM DIR [CHECK_OPTION...]
#
# Grades a class with GNU parallel, one collection-check per submission: DIR holds one folder
# per student, each holding an executable named PROGRAM or its C or C++ sources. Every result
# is one JSON line (collection-check --format json), written in the order of the folders to
# FILE (default results.jsonl).
#   -S SSHLOGIN  a machine to run checks on (GNU parallel's --sshlogin: [user@]host, or
#                N/host for N checks at once there); may be repeated. Each machine needs
#                collection-check installed (the .deb) and the compilers; the submission
#                folder is copied there and removed after. Without -S, or with -S : alone,
#                everything runs on this machine.
#   -j N         checks at once on each machine (default 1: each check already runs its
#                cases side by side)
# CHECK_OPTIONs go to collection-check (say --all --timeout 5).
# Exit status: 0 when every submission was checked (whatever its score), 1 when a check
# could not be made, 2 for a usage error.
set -uo pipefail

usage() {
    sed -n 2p "$0" | sed 's/^# //' >&2
    exit 2
}

logins=() jobs=1 output=results.jsonl
while getopts 'S:j:o:h' option; do
    case $option in
    S) logins+=("$OPTARG") ;;
    j) jobs=$OPTARG ;;
    o) output=$OPTARG ;;
    *) usage ;;
    esac
done
shift $((OPTIND - 1))
(($# >= 2)) || usage
program=$1 dir=$2
shift 2
check_options=("$@")
[[ -d $dir ]] || { echo "grade-over-machines.sh: no folder $dir" >&2; exit 2; }
command -v parallel >/dev/null || { echo "grade-over-machines.sh: GNU parallel is missing (apt-get install parallel)" >&2; exit 2; }
[[ $output == /* ]] || output=$PWD/$output

# One input line per student: the folder, a tab, what collection-check is given.
list=$(mktemp)
trap 'rm -f "$list"' EXIT
for folder in "$dir"/*/; do
    name=$(basename "$folder")
    if [[ -f $folder/$program ]]; then
        printf '%s\t%s\n' "$name" "$name/$program"
    else
        printf '%s\t%s\n' "$name" "$name"
    fi
done >"$list"
[[ -s $list ]] || { echo "grade-over-machines.sh: no submission folder in $dir" >&2; exit 2; }

where=()
if ((${#logins[@]} > 0)) && [[ ${logins[*]} != ":" ]]; then
    # Remote: each job gets a fresh working folder there (--wd ...), the student's folder is
    # copied into it and removed with it after the check.
    for login in "${logins[@]}"; do where+=(--sshlogin "$login"); done
    where+=(--workdir ... --transferfile '{1}' --cleanup)
fi

# Each check ends its line; status 1 (a case failed) is a result like any other.
# shellcheck disable=SC2016 # expanded by the shell parallel starts
check='collection-check --format json "$@"; s=$?; echo; [ "$s" -le 1 ]'
cd "$dir" || exit 2
parallel --will-cite --keep-order --colsep '\t' --jobs "$jobs" "${where[@]}" \
    -q sh -c "$check" sh "${check_options[@]}" "$program" './{2}' <"$list" |
    grep -v '^$' >"$output"
failed=${PIPESTATUS[0]}
lines=$(wc -l <"$output")
echo "grade-over-machines.sh: $lines of $(wc -l <"$list") submissions checked into $output" >&2
((failed == 0)) || { echo "grade-over-machines.sh: $failed checks could not be made" >&2; exit 1; }
