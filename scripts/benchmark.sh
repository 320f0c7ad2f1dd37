#!/usr/bin/env bash
# Measures the tool (not a test) against the floor of the same durable work
# done plainly by a small C program: per module, copy the block with pread
# and write in 128 KiB pieces into the .tds file, fsync it and its folder,
# and cut the module; for an attachment, copy the .tds file the same way to
# the end of the module, fsync it, then write and fsync the new section
# header. Three workloads: one module with a TD32 block of 1 GiB, a tree of
# 1,000 modules of 3 MiB (-r), and the 1 GiB block attached back (-a). Each
# runs in alternating pairs, each run from the same state (a fresh copy,
# earlier outputs deleted, sync, a short pause); prints the median of the
# ratios, the medians of the times and Quillon's peak memory.
# A fourth workload, reader, measures the TD32 reader on a synthetic block of
# 256 MiB (scripts/td32_block.py): -i to /dev/null and -l with 100,000
# addresses, each as a ratio to reading the file once with cat (warm), and
# the peak memory against the block's size.
# usage: scripts/benchmark.sh [quillon-binary] [pairs] [work-folder] [workloads: single tree attach reader]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quillon=${1:-$root/build/release/cli/quillon}
pairs=${2:-5}
work=${3:-$(mktemp -d /tmp/quillon-bench.XXXXXX)}
workloads=${4:-single tree attach reader}
python=/usr/bin/python3
[ -x /usr/bin/time ] || "$root/scripts/setup-debian.sh" time
[ -x "$quillon" ] || { echo "build first: scripts/build-and-run.sh (or pass the binary)"; exit 1; }
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

cat >"$work/floor.c" <<'EOF'
#define _GNU_SOURCE
#include <fcntl.h>
#include <libgen.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

enum { kPiece = 128 * 1024 };
static char buffer[kPiece];

/* Moves the block at the end of one module into its .tds file. */
static int strip(const char *module) {
    int in = open(module, O_RDWR);
    off_t size = in < 0 ? -1 : lseek(in, 0, SEEK_END);
    uint32_t block = 0;
    if (size < 8 || pread(in, &block, 4, size - 4) != 4) return 1;
    char tds[4096], folder[4096];
    snprintf(tds, sizeof tds, "%.*s.tds", (int)(strrchr(module, '.') - module), module);
    int out = open(tds, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (off_t at = size - block; at < size;) {
        size_t piece = size - at < kPiece ? (size_t)(size - at) : kPiece;
        if (pread(in, buffer, piece, at) != (ssize_t)piece || write(out, buffer, piece) != (ssize_t)piece) return 1;
        at += piece;
    }
    strcpy(folder, tds);
    int dir = open(dirname(folder), O_RDONLY | O_DIRECTORY);
    int failed = fsync(out) | fsync(dir) | ftruncate(in, size - block - 32);
    close(dir);
    close(out);
    close(in);
    return failed != 0;
}

/* Appends the .tds file to the module, then names it in a section header. */
static int attach(const char *module, const char *tds) {
    int out = open(module, O_RDWR), in = open(tds, O_RDONLY);
    off_t end = out < 0 ? -1 : lseek(out, 0, SEEK_END), size = in < 0 ? -1 : lseek(in, 0, SEEK_END);
    if (end < 0 || size < 0) return 1;
    for (off_t at = 0; at < size;) {
        size_t piece = size - at < kPiece ? (size_t)(size - at) : kPiece;
        if (pread(in, buffer, piece, at) != (ssize_t)piece || pwrite(out, buffer, piece, end + 32 + at) != (ssize_t)piece)
            return 1;
        at += piece;
    }
    int failed = fsync(out) | (pwrite(out, buffer, 40, 0x200) != 40) | fsync(out);
    close(in);
    close(out);
    return failed != 0;
}

int main(int argc, char **argv) {
    int failed = 0;
    if (argc == 4 && strcmp(argv[1], "-a") == 0) return attach(argv[2], argv[3]);
    for (int i = 1; i < argc; ++i) failed |= strip(argv[i]);
    return failed;
}
EOF
gcc -O2 -o "$work/floor" "$work/floor.c"
x86_64-w64-mingw32-gcc -O2 -s -o "$work/base.exe" "$root/scripts/demo/hello.c"

if [ "$workloads" != reader ]; then
echo "== making the modules"
cp "$work/base.exe" "$work/big.exe"
"$python" "$root/scripts/add_td32_section.py" "$work/big.exe" --block-size $((1024 * 1024 * 1024))
tail -c $((1024 * 1024 * 1024)) "$work/big.exe" >"$work/big.tds"
# The module to attach to carries no checksum, as those of the linkers that
# write TD32 do not: one that does costs one more read of the whole module.
"$python" - "$work/base.exe" "$work/attach.exe" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
struct.pack_into("<I", data, struct.unpack_from("<I", data, 0x3C)[0] + 88, 0)
open(sys.argv[2], "wb").write(data)
EOF
for d in $(seq 0 9); do
  [[ " $workloads " == *" tree "* ]] || break
  mkdir -p "$work/tree.orig/d$d"
  cp "$work/base.exe" "$work/tree.orig/d$d/m0.exe"
  "$python" "$root/scripts/add_td32_section.py" "$work/tree.orig/d$d/m0.exe" --block-size $((3 * 1024 * 1024)) --seed "$d"
  for i in $(seq 1 99); do cp "$work/tree.orig/d$d/m0.exe" "$work/tree.orig/d$d/m$i.exe"; done
done

# fresh WORKLOAD: puts the workload's modules back as they were made.
fresh() {
  rm -rf "$work/run" && mkdir -p "$work/run"
  case $1 in
    single) cp "$work/big.exe" "$work/run/big.exe" ;;
    attach) cp "$work/attach.exe" "$work/run/big.exe" ;;
    *) cp -r "$work/tree.orig" "$work/run/tree" ;;
  esac
  sync
  sleep 2
}

# timed COMMAND...: prints the wall time in seconds and the peak memory in
# KiB, as GNU time measures them (a timer that forks a bigger process would
# count that copy's memory too).
timed() {
  /usr/bin/time -o "$work/time" -f "%e %M" "$@" >/dev/null
  cat "$work/time"
}

run() {
  local workload=$1 tool=$2
  fresh "$workload"
  if [ "$workload" = attach ]; then
    if [ "$tool" = quillon ]; then timed "$quillon" -a "$work/run/big.exe" "$work/big.tds"
    else timed "$work/floor" -a "$work/run/big.exe" "$work/big.tds"; fi
  elif [ "$tool" = quillon ]; then
    if [ "$workload" = single ]; then timed "$quillon" "$work/run/big.exe"; else timed "$quillon" -r "$work/run/tree/*.exe"; fi
  else
    local modules=("$work/run/big.exe")
    [ "$workload" = single ] || mapfile -d '' modules < <(find "$work/run/tree" -name '*.exe' -print0 | sort -z)
    timed "$work/floor" "${modules[@]}"
  fi
}

for workload in single tree attach; do
  [[ " $workloads " == *" $workload "* ]] || continue
  echo "== $workload: $pairs alternating pairs"
  results=()
  for pair in $(seq 1 "$pairs"); do
    if [ $((pair % 2)) -eq 1 ]; then q=$(run "$workload" quillon); f=$(run "$workload" floor)
    else f=$(run "$workload" floor); q=$(run "$workload" quillon); fi
    echo "   pair $pair: quillon ${q% *} s, floor ${f% *} s"
    results+=("${q% *} ${f% *} ${q#* }")
  done
  printf '%s\n' "${results[@]}" | "$python" -c '
import statistics, sys
rows = [line.split() for line in sys.stdin]
ratios = [float(q) / float(f) for q, f, _ in rows]
print("   median ratio %.2f (%.2f to %.2f); median quillon %.2f s, floor %.2f s; peak memory %.1f MiB" % (
    statistics.median(ratios), min(ratios), max(ratios), statistics.median(float(r[0]) for r in rows),
    statistics.median(float(r[1]) for r in rows), max(int(r[2]) for r in rows) / 1024))'
done
fi

# The reader, warm: every run reads the same file from the page cache.
[[ " $workloads " == *" reader "* ]] || exit 0
echo "== reader: a 256 MiB block, $pairs rounds of cat, -i and -l with 100,000 addresses"
"$python" "$root/scripts/td32_block.py" "$work/reader.tds" --mib 256 --addresses "$work/addresses"
mapfile -t addresses < <(shuf -n 100000 --random-source=<(yes) "$work/addresses")
# A timer of its own: bash would count the time it takes to hand 100,000
# arguments over, and GNU time counts in hundredths of a second.
cat >"$work/timer.c" <<'EOF'
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

/* Runs argv[1...] with its output to /dev/null; prints the wall time in
   seconds and the peak memory in KiB. */
int main(int argc, char **argv) {
    struct timespec start, end;
    struct rusage usage;
    int status = 1;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t child = fork();
    if (child == 0) {
        dup2(open("/dev/null", O_WRONLY), 1);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    wait4(child, &status, 0, &usage);
    clock_gettime(CLOCK_MONOTONIC, &end);
    printf("%.6f %ld\n", (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9, usage.ru_maxrss);
    return argc > 1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
EOF
gcc -O2 -o "$work/timer" "$work/timer.c"
cat "$work/reader.tds" >/dev/null
for round in $(seq 1 "$pairs"); do
  echo "$("$work/timer" cat "$work/reader.tds") $("$work/timer" "$quillon" -i "$work/reader.tds")" \
       "$("$work/timer" "$quillon" -l "$work/reader.tds" "${addresses[@]}")"
done | "$python" -c '
import statistics, sys
rows = [[float(v) for v in line.split()] for line in sys.stdin]  # time and memory of cat, -i, -l
size = 256 * 1024
for name, t, m in (("-i", 2, 3), ("-l", 4, 5)):
    ratios = [r[t] / r[0] for r in rows]
    print("   %s: median ratio to cat %.2f (%.2f to %.2f, target 3); median %.3f s, cat %.3f s; peak memory %.1f MiB, "
          "%+.1f MiB against the block (target +64)" % (name, statistics.median(ratios), min(ratios), max(ratios),
          statistics.median(r[t] for r in rows), statistics.median(r[0] for r in rows), max(r[m] for r in rows) / 1024,
          (max(r[m] for r in rows) - size) / 1024))'
