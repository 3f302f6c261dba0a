#!/usr/bin/env bash
# filetool_bench.sh FILETOOL BYTELOOP [RUNS]
#
# Copies a 256 MiB file with filetool (choice 1) and types it into a pipe (choice 2), each
# against two yardsticks: byteloop, the same job as a plain byte-at-a-time loop on 128 KiB
# stdio buffers, and cat. The commands take turns, RUNS rounds (default 9), and the best
# times of each are compared: wall-clock, and processor time. The file lives in a fresh
# folder under $TMPDIR (or /tmp), removed at the end.
set -eu  # no pipefail: filetool ends a completed typing with status 255
if [ $# -lt 2 ]; then
  echo "usage: filetool_bench.sh FILETOOL BYTELOOP [RUNS]" >&2
  exit 2
fi
filetool=$(realpath "$1")
byteloop=$(realpath "$2")
runs=${3:-9}

work=$(mktemp -d "${TMPDIR:-/tmp}/filetool_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c $((256 * 1024 * 1024)) /dev/urandom > src
printf '1\n' > choice1
printf '2\n' > choice2

# The jobs, by name: copies write dst, types go through a pipe to cat.
declare -A job=(
  [copy_filetool]='"$filetool" src dst < choice1 > /dev/null'
  [copy_byteloop]='"$byteloop" src dst'
  [copy_cat]='cat src > dst'
  [type_filetool]='"$filetool" src dst < choice2 | cat > /dev/null'
  [type_byteloop]='"$byteloop" src | cat > /dev/null'
  [type_cat]='cat src | cat > /dev/null'
)
order=(copy_filetool copy_byteloop copy_cat type_filetool type_byteloop type_cat)

# Before measuring: the copy and the typed bytes must be the source's.
"$filetool" src dst < choice1 > /dev/null
cmp -s src dst || { echo "filetool's copy differs from its source" >&2; exit 1; }
shown=$'\nMENU\n1.Copy \n2.Type \n3.Exit\nPlease enter your choice : '
shown+=$'*** Data Of The File Is ***\n'
"$filetool" src dst < choice2 | tail -c +$((${#shown} + 1)) | cmp -s - src &&
  [ "${PIPESTATUS[*]}" = "255 0 0" ] ||
  { echo "filetool's typed bytes differ from its source" >&2; exit 1; }

# Each job's best wall-clock time, and its best processor time (user and system, of every
# process of the job): the second barely moves when other work shares the machine.
declare -A best_real best_cpu
TIMEFORMAT='%3R %3U %3S'
for ((round = 1; round <= runs; round++)); do
  for name in "${order[@]}"; do
    { time eval "${job[$name]}"; } 2> timing
    read -r real user sys < timing
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')
    if [ -z "${best_real[$name]:-}" ] || awk -v a="$real" -v b="${best_real[$name]}" 'BEGIN { exit !(a < b) }'; then
      best_real[$name]=$real
    fi
    if [ -z "${best_cpu[$name]:-}" ] || awk -v a="$cpu" -v b="${best_cpu[$name]}" 'BEGIN { exit !(a < b) }'; then
      best_cpu[$name]=$cpu
    fi
  done
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "filetool against a byte-at-a-time loop and cat: a 256 MiB file, best of $runs runs"
printf '%-12s %9s %9s %9s %12s %8s\n' "" filetool byteloop cat "vs byteloop" "vs cat"
for what in copy type; do
  for kind in real cpu; do
    declare -n best=best_$kind
    f=${best[${what}_filetool]} b=${best[${what}_byteloop]} c=${best[${what}_cat]}
    printf '%-12s %8ss %8ss %8ss %12s %8s\n' "$what ($kind)" "$f" "$b" "$c" \
      "$(ratio "$f" "$b")" "$(ratio "$f" "$c")"
    unset -n best
  done
done
