#!/usr/bin/env bash
# Where the time of one --run of 10,000 files into one folder goes, against mv's: the
# program's start, its argument check and judgement (--judge), the walk that a dry run
# makes (--run --dry-run), the whole run, and mv; each the median of nine rounds (wall
# time, and the CPU time of user and kernel), then the run's time by the code it was spent
# in (perf, where it is installed and allowed). bench/budget.sh [WORK FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
kurumu=${KURUMU:-$PWD/build/kurumu}
work=${1:-$(mktemp -d /var/tmp/kurumu-budget.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"
export XDG_STATE_HOME="$work/state"
rounds=9
files=10000

make_flat() { rm -rf flat && mkdir -p flat/a && (cd flat && seq -w 0 $((files - 1)) | sed 's/^/a_/; s/$/.dat/' | xargs touch); }
# median MEASURE...: the median of each column over the rounds of "wall user system" in ms.
median_of() {
  sort -n -k"$1" | awk -v k="$1" '{ v[NR] = $k } END { print v[int((NR + 1) / 2)] }'
}
# timed PREPARE COMMAND...: nine rounds of "wall user system" in ms, one line each.
timed() {
  local prepare=$1
  shift
  for _ in $(seq 1 $rounds); do
    $prepare
    /usr/bin/time -f '%e %U %S' -o "$work/time.txt" "$@" > /dev/null
    awk '{ printf "%d %d %d\n", $1 * 1000, $2 * 1000, $3 * 1000 }' "$work/time.txt"
  done > "$work/rounds.txt"
  printf '%6s ms  (user %4s ms, kernel %4s ms)' "$(median_of 1 < "$work/rounds.txt")" \
    "$(median_of 2 < "$work/rounds.txt")" "$(median_of 3 < "$work/rounds.txt")"
}
nothing() { :; }

make_flat
printf '%-44s %s\n' "start (--version)" "$(timed nothing "$kurumu" --version)"
printf '%-44s %s\n' "argument check and judgement (--judge)" \
  "$(timed nothing bash -c "cd flat && '$kurumu' --judge --rule count --count 1 a a_*")"
printf '%-44s %s\n' "the walk, changing nothing (--run --dry-run)" \
  "$(timed nothing bash -c "cd flat && '$kurumu' --run --dry-run --rule count --count 1 a a_*")"
printf '%-44s %s\n' "the run (--run)" \
  "$(timed make_flat bash -c "cd flat && '$kurumu' --run --rule count --count 1 a a_*")"
printf '%-44s %s\n' "mv" "$(timed make_flat bash -c "cd flat && mv a_* a/")"

if command -v perf > /dev/null && perf record -q -o "$work/probe.data" true 2> /dev/null; then
  make_flat
  (cd flat && perf record -q -o "$work/perf.data" -- "$kurumu" --run --rule count --count 1 a a_* > /dev/null 2>&1)
  echo "the run's samples by where they were spent:"
  perf report -i "$work/perf.data" --sort dso --stdio 2> /dev/null | grep -E '^ +[0-9]' | head -8
fi
