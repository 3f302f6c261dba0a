#!/usr/bin/env bash
# grade-over-machines.sh [-S SSHLOGIN]... [-j N] [-o FILE] PROGRAM DIR [CHECK_OPTION...]
#
# Grades a class with GNU parallel, one collection-check per submission: DIR holds one folder
# per student, each holding an executable named PROGRAM or its C or C++ sources. Every result
# is one JSON line (collection-check --format json) whose "submission" is the student's name
# (the folder's), written in the order of the folders to FILE (default results.jsonl). A
# student whose folder could not be checked (no program and no source, say) has a line too:
# score 0, no case, build verdict "missing", and collection-check's message.
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

# Each check prints one line: its JSON, or, when it could not be made, "!" and collection-
# check's message on one line. Status 1 (a case failed) is a result like any other.
# shellcheck disable=SC2016 # expanded by the shell parallel starts
check='e=$(mktemp); r=$(collection-check --format json "$@" 2>"$e"); s=$?; '\
'if [ "$s" -le 1 ] && [ -n "$r" ]; then printf "%s\n" "$r"; '\
'else printf "!%s\n" "$(tr "\n\t" "  " <"$e")"; fi; rm -f "$e"; [ "$s" -le 1 ]'
cd "$dir" || exit 2
# --tagstring puts each line after its student's folder name and a tab.
parallel --will-cite --keep-order --tagstring '{1}' --colsep '\t' --jobs "$jobs" "${where[@]}" \
    -q sh -c "$check" sh "${check_options[@]}" "$program" './{2}' <"$list" >"$output.parts"
failed=$?

# json_string TEXT: TEXT as the inside of a JSON string (backslashes and quotes escaped).
json_string() {
    local t=${1//\\/\\\\}
    printf '%s' "${t//\"/\\\"}"
}

# Each line named after its student: the submission collection-check was given ("./NAME/
# PROGRAM" or "./NAME") is replaced by NAME; a check that could not be made is a line too.
while IFS= read -r line; do
    name=${line%%$'\t'*} rest=${line#*$'\t'}
    if [[ $rest == '!'* ]]; then
        printf '{"program":"%s","submission":"%s","score":0,"max_score":0,"passed":0,"failed":0,"build":{"verdict":"missing","message":"%s"},"cases":[]}\n' \
            "$(json_string "$program")" "$(json_string "$name")" "$(json_string "${rest#!}")"
        continue
    fi
    for given in "./$name/$program" "./$name"; do
        head="{\"program\":\"$(json_string "$program")\",\"submission\":\"$(json_string "$given")\","
        if [[ $rest == "$head"* ]]; then
            rest="{\"program\":\"$(json_string "$program")\",\"submission\":\"$(json_string "$name")\",${rest#"$head"}"
            break
        fi
    done
    printf '%s\n' "$rest"
done <"$output.parts" >"$output"
rm -f "$output.parts"
lines=$(wc -l <"$output")
echo "grade-over-machines.sh: $lines submissions recorded into $output" >&2
((failed == 0)) || { echo "grade-over-machines.sh: $failed checks could not be made" >&2; exit 1; }
