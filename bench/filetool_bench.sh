#!/usr/bin/env bash
# filetool_bench.sh FILETOOL BYTELOOP [RUNS]
#
# Copies a 256 MiB file with filetool (choice 1) and types it into a pipe (choice 2), each
# against two yardsticks: byteloop, the same job as a plain byte-at-a-time loop on 128 KiB
# stdio buffers, and cat. The commands take turns, RUNS rounds (default 7), and the best
# time of each is compared. The file lives in a fresh folder under $TMPDIR (or /tmp),
# removed at the end.
set -eu  # no pipefail: filetool ends a completed typing with status 255
if [ $# -lt 2 ]; then
  echo "usage: filetool_bench.sh FILETOOL BYTELOOP [RUNS]" >&2
  exit 2
fi
filetool=$(realpath "$1")
byteloop=$(realpath "$2")
runs=${3:-7}

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
header=$(printf '\nMENU\n1.Copy \n2.Type \n3.Exit\nPlease enter your choice : *** Data Of The File Is ***\n' | wc -c)
"$filetool" src dst < choice2 | tail -c +$((header + 1)) | cmp -s - src &&
  [ "${PIPESTATUS[*]}" = "255 0 0" ] ||
  { echo "filetool's typed bytes differ from its source" >&2; exit 1; }

declare -A best
for ((round = 1; round <= runs; round++)); do
  for name in "${order[@]}"; do
    start=$(date +%s%N)
    eval "${job[$name]}"
    ns=$(($(date +%s%N) - start))
    if [ -z "${best[$name]:-}" ] || [ "$ns" -lt "${best[$name]}" ]; then best[$name]=$ns; fi
  done
done

seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "best of $runs runs on a 256 MiB file (seconds; ratios of best times)"
printf '%-6s %9s %9s %9s %12s %12s\n' job filetool byteloop cat "vs byteloop" "vs cat"
for what in copy type; do
  f=${best[${what}_filetool]} b=${best[${what}_byteloop]} c=${best[${what}_cat]}
  printf '%-6s %9s %9s %9s %12s %12s\n' "$what" "$(seconds "$f")" "$(seconds "$b")" \
    "$(seconds "$c")" "$(ratio "$f" "$b")" "$(ratio "$f" "$c")"
done
