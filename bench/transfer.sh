#!/usr/bin/env bash
# Transfer benchmarks against mv and cp, on the same data in the same run, on one file
# system: bench/transfer.sh [WORK FOLDER] (default: a new folder under /var/tmp). With OTHER_FS naming a folder on
# another file system, a move onto it is measured too, of one big file and of a tree with its structure.
# Each case runs nine times (ROUNDS), kurumu and its peer in alternating order; the speed ratio
# of a round is the peer's time over kurumu's, so above 1 means kurumu was faster. Printed:
# the median ratio and its range, and the median times. Every copy is timed to the disk, for
# kurumu and its peer alike: each ends with its own sync, so that neither gains by leaving
# dirty pages for the next round.
set -euo pipefail
cd "$(dirname "$0")/.."
kurumu=${KURUMU:-$PWD/build/kurumu}  # KURUMU names another build to measure, an earlier one say
bench_crc=$PWD/build/bench/bench_crc
bench_file_move=$PWD/build/bench/bench_file_move
bench_publish=$PWD/build/bench/bench_publish
work=${1:-$(mktemp -d /var/tmp/kurumu-bench.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"
# Every run writes its journal, as it does for a user; here into the work folder.
export XDG_STATE_HOME="$work/state"
rounds=${ROUNDS:-9}

now() { date +%s%N; }
# The work folder's disk, and settle: a sync, then a wait (up to 10 s) until the disk has nothing in flight. A disk
# mounted with discard trims what the last round deleted after the sync returns; a round timed meanwhile shares the
# disk with that trim.
disk=$(basename "$(findmnt -n -o SOURCE --target "$work" 2> /dev/null || true)")
settle() {
  sync
  local inflight=/sys/class/block/$disk/inflight quiet=0 tries=0
  [ -n "$disk" ] && [ -r "$inflight" ] || { sleep 1; return; }
  while [ $quiet -lt 4 ] && [ $tries -lt 200 ]; do
    if [ "$(awk '{ print $1 + $2 }' "$inflight")" -eq 0 ]; then quiet=$((quiet + 1)); else quiet=0; fi
    tries=$((tries + 1))
    sleep 0.05
  done
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
# The system calls a command makes for each of 2,000 files, under strace -c.
calls_per_file() { strace -f -c -o "$work/calls.txt" "$@" > /dev/null 2>&1 || true; awk '/ total$/ { printf "%.1f", $(NF - 2) / 2000 }' "$work/calls.txt"; }

# alternate NAME PEER PREPARE OURS THEIRS: each round prepares the data, then times ours and
# theirs (or theirs first in every other round), each prepared afresh.
alternate() {
  local name=$1 peer=$2 prepare=$3 ours=$4 theirs=$5 round start ours_ns theirs_ns
  local ratios=() our_times=() their_times=()
  for round in $(seq 1 $rounds); do
    for side in ours theirs; do
      [ $((round % 2)) -eq 0 ] && side=$([ $side = ours ] && echo theirs || echo ours)
      $prepare
      start=$(now)
      if [ $side = ours ]; then $ours; ours_ns=$(( $(now) - start )); else $theirs; theirs_ns=$(( $(now) - start )); fi
    done
    ratios+=("$(awk -v p="$theirs_ns" -v o="$ours_ns" 'BEGIN { printf "%.2f", p / o }')")
    our_times+=("$ours_ns") their_times+=("$theirs_ns")
  done
  local sorted
  sorted=$(printf '%s\n' "${ratios[@]}" | sort -n | tr '\n' ' ')
  printf '%-58s kurumu %7s s   %-18s %7s s   speed ratio %s (%s to %s)\n' "$name" \
    "$(seconds "$(printf '%s\n' "${our_times[@]}" | median)")" "$peer" \
    "$(seconds "$(printf '%s\n' "${their_times[@]}" | median)")" \
    "$(printf '%s\n' "${ratios[@]}" | median)" "$(awk '{ print $1 }' <<< "$sorted")" "$(awk '{ print $NF }' <<< "$sorted")"
}

# 10,000 small files in 100 groups: each group a folder gNNN and 100 files gNNN_MMMM.txt.
make_groups() {
  rm -rf groups && mkdir groups
  for g in $(seq -w 0 99); do
    mkdir "groups/g0$g"
    (cd groups && for f in $(seq -w 0 99); do echo "$g $f" > "g0${g}_$f.txt"; done)
  done
}
groups_kurumu() { (cd groups && "$kurumu" --run --move --rule count --count 4 g0* > /dev/null); }
groups_mv() { (cd groups && for g in g0??; do mv "$g"_* "$g"/; done); }
alternate "--run: 10,000 files into 100 groups" "mv a group" make_groups groups_kurumu groups_mv

# Files into one folder (the file move routine, log and journal included, the process's
# start and its judgement too).
files=10000
make_flat() { rm -rf flat && mkdir -p flat/a && (cd flat && seq -w 0 $((files - 1)) | sed 's/^/a_/; s/$/.dat/' | xargs touch); }
flat_kurumu() { (cd flat && "$kurumu" --run --rule count --count 1 a a_* > /dev/null); }
flat_mv() { (cd flat && mv a_* a/); }
alternate "--run: 10,000 files into one folder" mv make_flat flat_kurumu flat_mv
files=100000
alternate "--run: 100,000 files into one folder" mv make_flat flat_kurumu flat_mv
make_flat
peak=$( (cd flat && /usr/bin/time -f '%M' "$kurumu" --run --rule count --count 1 a a_* > /dev/null) 2>&1 | tail -n 1)
echo "--run: 100,000 files into one folder: peak memory $((peak / 1024)) MiB"
rm -rf flat

"$bench_file_move"

# One 1 GiB file copied, page cache warm; writeback of the last copy disturbs the next, so
# each is synced away first. The group folder "b" sorts before "b_1GiB.bin", so it leads.
rm -rf big && mkdir -p big/b
head -c 1G /dev/urandom > big/b_1GiB.bin
cat big/b_1GiB.bin > /dev/null
no_copy() { rm -f big/b/b_1GiB.bin; settle; }
copy_kurumu() { (cd big && "$kurumu" --run --copy --rule count --count 1 b b_1GiB.bin > /dev/null) && sync; }
copy_cp() { cp big/b_1GiB.bin big/b/ && sync; }
alternate "--run --copy: one 1 GiB file, synced" "cp, sync" no_copy copy_kurumu copy_cp
# A copy read back and checked (--crc32) against cp, sync and one direct read of the copy.
checked_kurumu() { (cd big && "$kurumu" --run --copy --crc32 --rule count --count 1 b b_1GiB.bin > /dev/null); }
checked_cp() { cp big/b_1GiB.bin big/b/ && sync && dd if=big/b/b_1GiB.bin of=/dev/null bs=4M iflag=direct status=none; }
alternate "--run --copy --crc32: one 1 GiB file, read back" "cp, sync, direct read" no_copy checked_kurumu checked_cp
cmp big/b_1GiB.bin big/b/b_1GiB.bin
# A move onto another file system, copied, flushed and read back before the source goes, against cp, sync, one
# direct read of the copy and rm; only where OTHER_FS names a writable folder on another file system.
if [ -n "${OTHER_FS:-}" ]; then
  other=$(mktemp -d "$OTHER_FS/kurumu-bench.XXXXXX")
  trap 'rm -rf "$work" "$other"' EXIT
  mkdir -p "$other/b"
  no_move() { rm -f "$other/b/b_moved.bin"; cp big/b_1GiB.bin big/b_moved.bin; settle; }
  move_kurumu() { (cd big && "$kurumu" --run --move --rule count --count 1 "$other/b" b_moved.bin > /dev/null); }
  move_cp() {
    cp big/b_moved.bin "$other/b/" && sync &&
      dd if="$other/b/b_moved.bin" of=/dev/null bs=4M iflag=direct status=none && rm big/b_moved.bin
  }
  alternate "--run --move onto another file system: one 1 GiB file" "cp, sync, read, rm" no_move move_kurumu move_cp
  rm -rf "$other"
fi

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
no_tree() { rm -rf tree/t/t_tree tree/cp; settle; }
tree_kurumu() { (cd tree && "$kurumu" --run --copy --keep-structure --rule count --count 1 t t_tree > /dev/null) && sync; }
tree_cp() { cp -a tree/t_tree tree/cp && sync; }
alternate "--run --copy --keep-structure: 2,000 files of 128 KiB, synced" "cp -a, sync" no_tree tree_kurumu tree_cp
# The system calls each makes per file of the tree, under strace -c.
if command -v strace > /dev/null; then
  no_tree
  ours=$(cd tree && calls_per_file "$kurumu" --run --copy --keep-structure --rule count --count 1 t t_tree)
  theirs=$(calls_per_file cp -a tree/t_tree tree/cp)
  echo "--run --copy --keep-structure: system calls per file: kurumu $ours, cp -a $theirs"
fi
# The ways a copy can be published under its name (bench_publish), here and on a tmpfs: cp's plain create, which
# leaves a partial file behind on a kill, against the unnamed file linked under its name and the hidden name renamed.
"$bench_publish" "$work"
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$work/tmpfs" && mount -t tmpfs -o size=64m tmpfs "$work/tmpfs" && "$bench_publish" "$work/tmpfs" && umount "$work/tmpfs"
elif [ -d /dev/shm ] && [ -w /dev/shm ]; then
  "$bench_publish" /dev/shm
fi
# The same tree moved with its structure onto another file system: each folder the run makes is synced into its
# parent before anything goes into it, each file flushed before its source goes; against cp -a, sync and rm -r.
if [ -n "${OTHER_FS:-}" ]; then
  other=$(mktemp -d "$OTHER_FS/kurumu-bench.XXXXXX")
  trap 'rm -rf "$work" "$other"' EXIT
  rm -rf tree/t && cp -a tree/t_tree tree/pristine
  no_tree_move() { rm -rf "$other/t" tree/t_tree && mkdir "$other/t" && cp -a tree/pristine tree/t_tree && settle; }
  tree_move_kurumu() { (cd tree && "$kurumu" --run --move --keep-structure --rule count --count 1 "$other/t" t_tree > /dev/null); }
  tree_move_cp() { cp -a tree/t_tree "$other/t/" && sync && rm -r tree/t_tree; }
  alternate "--run --move --keep-structure onto another fs: 2,000 files" "cp -a, sync, rm -r" no_tree_move tree_move_kurumu tree_move_cp
  rm -rf "$other"
fi

# Onto a FAT stick through FUSE (fusefat on an image file), as a desktop without the kernel's driver mounts one;
# as root, where fusefat is installed. A tree of 2,000 files (20 folders of 100: fusefat slows down steeply with the
# entries of one folder, cp as much as kurumu) copied with its structure against cp -a, and one 1 GiB file against
# cp; both timed to the disk (each with its own final sync), three rounds each (the stick is slow). The system calls
# per file of the tree copy are counted under strace -c for both, where strace is installed.
if [ "$(id -u)" -eq 0 ] && command -v fusefat > /dev/null && [ -e /dev/fuse ]; then
  rounds=3
  truncate -s 4G stick.img && mkfs.vfat -F 32 stick.img > /dev/null && mkdir -p stick
  fusefat -o rw+ stick.img stick > /dev/null 2>&1
  trap 'umount -l "$work/stick" 2>/dev/null || true; rm -rf "$work"' EXIT
  rm -rf small && mkdir -p small/s_tree
  for d in $(seq -w 0 19); do
    mkdir "small/s_tree/d$d"
    for f in $(seq -w 0 99); do head -c 4096 /dev/urandom > "small/s_tree/d$d/f$f"; done
  done
  no_stick_tree() { rm -rf stick/s stick/cp; mkdir stick/s; sync; }
  stick_tree_kurumu() {
    (cd small && "$kurumu" --run --copy --keep-structure --rule count --count 1 "$work/stick/s" s_tree > /dev/null) && sync
  }
  # cp -a warns of every mode it cannot keep there, and exits 1 for it.
  stick_tree_cp() { cp -a small/s_tree stick/cp 2> /dev/null || true; sync; }
  alternate "--run --copy --keep-structure onto FAT through FUSE: 2,000 files" "cp -a, sync" no_stick_tree \
    stick_tree_kurumu stick_tree_cp
  if command -v strace > /dev/null; then
    no_stick_tree
    ours=$(cd small && calls_per_file "$kurumu" --run --copy --keep-structure --rule count --count 1 "$work/stick/s" s_tree)
    theirs=$(calls_per_file cp -a small/s_tree stick/cp)
    echo "--run --copy --keep-structure onto FAT through FUSE: system calls per file: kurumu $ours, cp -a $theirs"
  fi
  head -c 1G /dev/urandom > small/s_1GiB.bin
  no_stick_big() { rm -f stick/s/s_1GiB.bin stick/cp_1GiB.bin; sync; }
  stick_big_kurumu() { (cd small && "$kurumu" --run --copy --rule count --count 1 "$work/stick/s" s_1GiB.bin > /dev/null) && sync; }
  stick_big_cp() { cp small/s_1GiB.bin stick/cp_1GiB.bin && sync; }
  alternate "--run --copy onto FAT through FUSE: one 1 GiB file" "cp, sync" no_stick_big stick_big_kurumu stick_big_cp
  no_stick_big && stick_big_kurumu && cmp small/s_1GiB.bin stick/s/s_1GiB.bin
  rm -rf stick/s stick/cp
  "$bench_publish" "$work/stick" 200
  umount -l stick
fi
