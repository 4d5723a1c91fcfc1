#!/usr/bin/env bash
# Transfer benchmarks against mv and cp, on the same data in the same run, on one file
# system: bench/transfer.sh [WORK FOLDER] (default: a new folder under /var/tmp).
# Each figure is the best of three runs; ratios above 1 mean kurumu was faster.
set -euo pipefail
cd "$(dirname "$0")/.."
kurumu=$PWD/build/kurumu
bench_crc=$PWD/build/bench/bench_crc
bench_file_move=$PWD/build/bench/bench_file_move
work=${1:-$(mktemp -d /var/tmp/kurumu-bench.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"
# Every run writes its journal, as it does for a user; here into the work folder.
export XDG_STATE_HOME="$work/state"

now() { date +%s%N; }
best() { sort -n | head -n 1; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
ratio() { awk -v peer="$1" -v ours="$2" 'BEGIN { printf "%.2f", peer / ours }'; }
report() { printf '%-52s kurumu %8s s   %-6s %8s s   speed ratio %s\n' "$1" "$(seconds "$2")" "$3" "$(seconds "$4")" "$(ratio "$4" "$2")"; }

# 10,000 small files in 100 groups: each group a folder gNNN and 100 files gNNN_MMMM.txt.
make_groups() {
  rm -rf groups && mkdir groups
  for g in $(seq -w 0 99); do
    mkdir "groups/g0$g"
    (cd groups && for f in $(seq -w 0 99); do echo "$g $f" > "g0${g}_$f.txt"; done)
  done
}
runs_kurumu=() runs_mv=()
for run in 1 2 3; do
  make_groups
  start=$(now); (cd groups && "$kurumu" --run --move --rule count --count 4 g0* > /dev/null); runs_kurumu+=($(( $(now) - start )))
  [ "$(find groups -type f | wc -l)" -eq 10000 ] && [ -z "$(find groups -maxdepth 1 -type f)" ]
  make_groups
  start=$(now); (cd groups && for g in g0??; do mv "$g"_* "$g"/; done); runs_mv+=($(( $(now) - start )))
done
report "--run: 10,000 files into 100 groups" "$(printf '%s\n' "${runs_kurumu[@]}" | best)" mv "$(printf '%s\n' "${runs_mv[@]}" | best)"

# 10,000 files into one folder (the file move routine, log included).
make_flat() { rm -rf flat && mkdir -p flat/a && (cd flat && for f in $(seq -w 0 9999); do echo "$f" > "a_$f.dat"; done); }
runs_kurumu=() runs_mv=()
for run in 1 2 3; do
  make_flat
  start=$(now); (cd flat && "$kurumu" --run --rule count --count 1 a a_* > /dev/null); runs_kurumu+=($(( $(now) - start )))
  make_flat
  start=$(now); (cd flat && mv a_* a/); runs_mv+=($(( $(now) - start )))
done
report "--run: 10,000 files into one folder (process start included)" "$(printf '%s\n' "${runs_kurumu[@]}" | best)" mv "$(printf '%s\n' "${runs_mv[@]}" | best)"

"$bench_file_move"

# One 1 GiB file copied, page cache warm.
# The group folder "b" sorts before "b_1GiB.bin", so it leads the group.
rm -rf big && mkdir -p big/b
head -c 1G /dev/urandom > big/b_1GiB.bin
cat big/b_1GiB.bin > /dev/null
runs_kurumu=() runs_cp=()
copy_kurumu() {
  rm -f big/b/b_1GiB.bin; sync; sleep 1
  start=$(now); (cd big && "$kurumu" --run --copy --rule count --count 1 b b_1GiB.bin > /dev/null); runs_kurumu+=($(( $(now) - start )))
  cmp big/b_1GiB.bin big/b/b_1GiB.bin
}
copy_cp() {
  rm -f big/b/b_1GiB.bin; sync; sleep 1
  start=$(now); cp big/b_1GiB.bin big/b/; runs_cp+=($(( $(now) - start )))
}
# Writeback of the last copy disturbs the next one: five runs each, in alternating order.
for run in 1 2 3 4 5; do
  if [ $((run % 2)) -eq 1 ]; then copy_kurumu; copy_cp; else copy_cp; copy_kurumu; fi
done
report "--run --copy: one 1 GiB file" "$(printf '%s\n' "${runs_kurumu[@]}" | best)" cp "$(printf '%s\n' "${runs_cp[@]}" | best)"

# The checksum of the cached 1 GiB file, with its peak memory.
crc_line=$(/usr/bin/time -f 'peak memory %M KiB' "$bench_crc" big/b_1GiB.bin 2>&1 | tr '\n' ' ')
echo "GetFileCRC of a cached 1 GiB file: $crc_line"
rm -rf big

# A tree of 2,000 files of 128 KiB, copied with its structure into the group folder "t"; the peer is
# cp -a, which keeps what kurumu keeps (times, modes, links as links).
rm -rf tree && mkdir -p tree/t_tree tree/t
for d in $(seq -w 0 19); do
  mkdir -p "tree/t_tree/d$d/e"
  for f in $(seq -w 0 49); do head -c 131072 /dev/urandom > "tree/t_tree/d$d/f$f"; head -c 131072 /dev/urandom > "tree/t_tree/d$d/e/f$f"; done
done
cat tree/t_tree/*/f* tree/t_tree/*/e/f* > /dev/null
runs_kurumu=() runs_cp=()
for run in 1 2 3; do
  rm -rf tree/t/t_tree tree/cp; sync
  start=$(now); (cd tree && "$kurumu" --run --copy --keep-structure --rule count --count 1 t t_tree > /dev/null); runs_kurumu+=($(( $(now) - start )))
  [ "$(find tree/t/t_tree -type f | wc -l)" -eq 2000 ]
  rm -rf tree/t/t_tree tree/cp; sync
  start=$(now); cp -a tree/t_tree tree/cp; runs_cp+=($(( $(now) - start )))
done
report "--run --copy --keep-structure: 2,000 files of 128 KiB" "$(printf '%s\n' "${runs_kurumu[@]}" | best)" "cp -a" "$(printf '%s\n' "${runs_cp[@]}" | best)"
