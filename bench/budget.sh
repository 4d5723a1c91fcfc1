#!/usr/bin/env bash
# Where the time of one --run of 10,000 files into one folder goes, against mv's: the
# program's start, its argument check and judgement (--judge), the whole run, and mv; each
# the median of nine rounds (wall time, and the CPU time of user and kernel, by perf stat);
# then what a look at each file adds to the renames alone (bench_look); then the run's
# samples by the code they were spent in, and the program's own by function.
# Needs perf. bench/budget.sh [WORK FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
kurumu=${KURUMU:-$PWD/build/kurumu}
bench_look=$PWD/build/bench/bench_look
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
    perf stat -x, -o "$work/time.txt" -e duration_time,user_time,system_time "$@" > /dev/null
    awk -F, '/_time/ { v[$3] = $1 / 1e6 } END { printf "%.1f %.1f %.1f\n", v["duration_time"], v["user_time"], v["system_time"] }' "$work/time.txt"
  done > "$work/rounds.txt"
  printf '%7s ms  (user %6s ms, kernel %6s ms)' "$(median_of 1 < "$work/rounds.txt")" \
    "$(median_of 2 < "$work/rounds.txt")" "$(median_of 3 < "$work/rounds.txt")"
}
nothing() { :; }

make_flat
printf '%-44s %s\n' "start (--version)" "$(timed nothing "$kurumu" --version)"
printf '%-44s %s\n' "argument check and judgement (--judge)" \
  "$(timed nothing bash -c "cd flat && '$kurumu' --judge --rule count --count 1 a a_*")"
printf '%-44s %s\n' "the run (--run)" \
  "$(timed make_flat bash -c "cd flat && '$kurumu' --run --rule count --count 1 a a_*")"
printf '%-44s %s\n' "mv" "$(timed make_flat bash -c "cd flat && mv a_* a/")"
# The system calls alone: what a look at each file before its rename adds to the renames.
"$bench_look" "$work" "$files"

make_flat
(cd flat && perf record -q -F 20000 -o "$work/perf.data" -- "$kurumu" --run --rule count --count 1 a a_* > /dev/null 2>&1)
echo "the run's samples by where they were spent:"
perf report -i "$work/perf.data" --sort dso --stdio 2> /dev/null | grep -E '^ +[0-9]' | head -6
echo "the program's own and Qt's, by function:"
perf report -i "$work/perf.data" --dsos kurumu,libQt6Core.so.6.4.2 --sort symbol --stdio 2> /dev/null |
  grep -E '^ +[0-9]' | head -14
