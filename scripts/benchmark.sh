#!/usr/bin/env bash
# Measures the tool (not a test): one large module with a TD32 block of
# 1 GiB, and a tree of 1,000 modules of a few MiB each. Prints the time,
# throughput and peak memory of Quillon, and the same figures for a plain
# copy of the same bytes (with fsync, as Quillon makes the .tds durable) as
# the floor to compare with.
# usage: scripts/benchmark.sh [quillon-binary] [work-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quillon=${1:-$root/build/release/cli/quillon}
work=${2:-$(mktemp -d /tmp/quillon-bench.XXXXXX)}
python=/usr/bin/python3
[ -x "$quillon" ] || { echo "build first: scripts/build-and-run.sh (or pass the binary)"; exit 1; }
mkdir -p "$work"

base=$work/base.exe
x86_64-w64-mingw32-gcc -O2 -s -o "$base" "$root/scripts/demo/hello.c"

# measure LABEL BYTES COMMAND...: prints seconds, MiB/s and peak RSS.
measure() {
  local label=$1 bytes=$2; shift 2
  sync
  local out
  out=$("$python" - "$@" <<'PY'
import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(time.monotonic() - start, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
PY
)
  local secs=${out% *} rss=${out#* }
  awk -v l="$label" -v s="$secs" -v b="$bytes" -v r="$rss" \
    'BEGIN { printf "%-34s %8.2f s %10.1f MiB/s %8.1f MiB peak\n", l, s, (s > 0 ? b / 1048576 / s : 0), r / 1024 }'
}

echo "== one module with a 1 GiB TD32 block"
big=$work/big.exe
cp "$base" "$big"
"$python" "$root/scripts/add_td32_section.py" "$big" --block-size $((1024 * 1024 * 1024))
block=$((1024 * 1024 * 1024))
size=$(stat -c %s "$big")
measure "plain copy of the block (dd+fsync)" "$block" \
  dd if="$big" of="$work/copy.bin" bs=4M iflag=skip_bytes skip=$((size - block)) conv=fsync
rm -f "$work/copy.bin"
measure "quillon big.exe" "$block" "$quillon" "$big"
cmp <(tail -c "$block" "$work/big.tds" | head -c 4) <(printf 'FB09') && echo "   big.tds starts with FB09, $(stat -c %s "$work/big.tds") bytes"
rm -f "$big" "$work/big.tds"

echo "== a tree of 1,000 modules of 3 MiB (10 folders of 100)"
tree=$work/tree
rm -rf "$tree"
for d in $(seq 0 9); do
  mkdir -p "$tree/d$d"
  cp "$base" "$tree/d$d/m0.exe"
  "$python" "$root/scripts/add_td32_section.py" "$tree/d$d/m0.exe" --block-size $((3 * 1024 * 1024)) --seed "$d"
  for i in $(seq 1 99); do cp "$tree/d$d/m0.exe" "$tree/d$d/m$i.exe"; done
done
total=$(du -sb "$tree" | cut -f1)
measure "plain copy of the tree (cp+sync)" "$total" sh -c "cp -r '$tree' '$work/tree-copy' && sync"
rm -rf "$work/tree-copy"
measure "quillon -r tree/*.exe" "$total" "$quillon" -r "$tree/*.exe"
echo "   $(find "$tree" -name '*.tds' | wc -l) .tds files written"
rm -rf "$work"
