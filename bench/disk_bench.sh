#!/usr/bin/env bash
# The disk wipe's overwrite against dd on the same loop device, in the same
# run: `zarvexwipe disk DEV --method zero --verify sample --yes` (one pass of
# zeros, flushed, then the sampled read-back) against
# `dd if=/dev/zero of=DEV bs=1M oflag=direct conv=fsync`. The loop device
# reads and writes its image past the host's page cache (--direct-io=on), as
# a real disk. Prints seconds and the ratio of throughputs; never asserts.
# Goal: the overwrite at least 0.95 times dd's throughput.
#
#   sudo bench/disk_bench.sh            # SIZE=1G REPEATS=3 METHOD=zero
#   sudo METHOD=random bench/disk_bench.sh   # the keyed random stream, made as it is written
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
size=${SIZE:-1G}
repeats=${REPEATS:-3}
method=${METHOD:-zero}
source "$here/common.sh"
needs_root "it attaches a loop device"
bench_program zarvexwipe ZARVEX_PROGRAM bin
needs_tools losetup dd

work=$(mktemp -d /tmp/zarvexdisk.XXXXXX)
loopdev=""
cleanup() {
    set +e
    [[ -n $loopdev ]] && losetup -d "$loopdev"
    remove_work
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

dd if=/dev/zero of="$work/disk.img" bs=1M count=$(($(numfmt --from=iec "$size") >> 20)) conv=fsync status=none
loopdev=$(losetup -f --show --direct-io=on "$work/disk.img")
bytes=$(blockdev --getsize64 "$loopdev")
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sr), $(nproc) cores; $loopdev, $bytes bytes (direct I/O)"

seconds() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", (b - a) / 1e9}'; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
engine=() dd_s=()
for ((r = 0; r < repeats; r++)); do
    t0=$(date +%s%N)
    dd if=/dev/zero of="$loopdev" bs=1M oflag=direct conv=fsync status=none 2>/dev/null
    t1=$(date +%s%N)
    dd_s+=("$(seconds "$t0" "$t1")")
    t0=$(date +%s%N)
    "$program" disk "$loopdev" --method "$method" --verify sample --yes >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
    t1=$(date +%s%N)
    engine+=("$(seconds "$t0" "$t1")")
done
e=$(printf '%s\n' "${engine[@]}" | median)
d=$(printf '%s\n' "${dd_s[@]}" | median)
echo "dd bs=1M oflag=direct: ${dd_s[*]} s (median $d)"
echo "zarvexwipe disk, one $method pass and a sampled read-back: ${engine[*]} s (median $e)"
awk -v e="$e" -v d="$d" 'BEGIN { printf "throughput / dd: %.2f (goal at least 0.95; the wipe includes its read-back)\n", d / e }'
