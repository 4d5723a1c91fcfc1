#!/usr/bin/env bash
# Checks the style: the format of every C++ file against the root .clang-format, and the
# product code against the root .clang-tidy, which turns every warning into an error.
# scripts/style.sh [BUILD FOLDER, holding compile_commands.json; default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else  # a copy without git: the folders that hold the code
  mapfile -t files < <(find src tests bench tools -name '*.cpp' -o -name '*.h' | sort)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "style: no C++ files found" >&2
  exit 1
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "style: the files above differ from what clang-format makes of them (clang-format -i FILE...)" >&2
  exit 1
fi
# Every call to the operating system goes through the seam that tests can replace
# (src/platform/SystemCalls.cpp); none is made around it.
calls='open|openat|close|read|pread|write|fstat|fstatat|lstat|stat|statx|fstatfs|statfs|renameat2?|rename|linkat|link'
calls+='|unlinkat|unlink|mkdirat|mkdir|rmdir|fsync|fdatasync|fchmodat|fchmod|chmod|fchownat|fchown|chown|futimens|utimensat'
calls+='|readlinkat|readlink|symlinkat|symlink|flistxattr|fgetxattr|fsetxattr|fdopendir|opendir|readdir|closedir|flock'
calls+='|posix_fallocate|ftruncate|mmap|munmap|madvise|fcntl|ioctl|geteuid|getuid|getpid|sync_file_range|posix_fadvise'
calls+='|realpath|getcwd|sysconf|getpwuid|getpwnam|sigaction|signal|execv|execvp|pipe2?|clock_gettime|copy_file_range'
calls+='|name_to_handle_at|syscall|access|faccessat|kill|lseek|dup2?'
if grep -nE "(^|[^A-Za-z0-9_>.])::($calls)\(" src --include='*.cpp' --include='*.h' -r | grep -v '^src/platform/SystemCalls.cpp:'; then
  echo "style: the calls above go around the system-call seam (src/platform/SystemCalls.h)" >&2
  exit 1
fi
if grep -nE '#include <(unistd|fcntl|dirent|pwd|signal)\.h>|#include <(sys|linux)/' -r src/transfer; then
  echo "style: src/transfer/ includes the operating system's headers above; it reaches the system through platform/" >&2
  exit 1
fi
# The window and the batch mode reach runs, dry runs, undos and the history through the
# session; of the transfer they know only its value types and options.
if grep -nE '#include "transfer/' -r src/app src/window |
    grep -vE '"transfer/(RunHost|RunOptions|RunRecords|RunVariables)\.h"'; then
  echo "style: the window or the batch mode includes the transfer's workings above; they go through src/session/" >&2
  exit 1
fi
# The undo's decision is made from values alone: it and the value headers it includes
# include nothing of ours but each other, and no header of the system's.
decision=(src/transfer/UndoDecision.h src/transfer/UndoDecision.cpp src/transfer/UndoReading.h
          src/transfer/JournalRecords.h src/transfer/RunRecords.h src/platform/Entry.h src/platform/Errors.h
          src/platform/Path.h)
if grep -nE '#include' "${decision[@]}" |
    grep -vE '#include <(Q[A-Za-z]+|algorithm|cerrno|cstddef|optional|string_view|utility)>' |
    grep -vE '"(transfer/(UndoDecision|UndoReading|JournalRecords|RunRecords)|platform/(Entry|Errors|Path))\.h"'; then
  echo "style: the undo's decision includes more than values above; it must make no call to the system" >&2
  exit 1
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! run-clang-tidy -p "$build" -quiet "$PWD/src/.*\.cpp" > "$log" 2>&1; then
  sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E -A3 '(warning|error):' >&2
  echo "style: clang-tidy finds the above" >&2
  exit 1
fi
echo "style: ok"
