#!/usr/bin/env bash
# What the verified last pass adds to a Short free-space wipe of a 1 GiB ext4
# loop image: zarvexverifybench runs the wipe (pauses off) alternately with
# and without the read-back, RUNS times each after one warm-up, and prints
# the ratio of the medians. Reports, never asserts. Goal: under 1.10.
#
#   sudo bench/verify_bench.sh            # RUNS=3
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
runs=${RUNS:-3}
source "$here/common.sh"
needs_root "it mounts a loop image"
bench_program zarvexverifybench ZARVEX_VERIFYBENCH
bench=$program

work=$(mktemp -d /tmp/zarvexverify.XXXXXX)
mounted=""
loopdev=""
cleanup() {
    set +e
    [[ -n $mounted ]] && { umount "$mounted" 2>/dev/null || umount -l "$mounted"; }
    [[ -n $loopdev ]] && losetup -d "$loopdev"
    remove_work
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Written out in full first, so no run pays for the image's first allocation.
mkdir "$work/ext4"
dd if=/dev/zero of="$work/ext4.img" bs=1M count=1024 conv=fsync status=none
mkfs.ext4 -q -F -b 4096 "$work/ext4.img"
# DIRECT_IO=1: the loop device reads its image past the host's page cache,
# as a real drive would be read.
loopdev=$(losetup -f --show ${DIRECT_IO:+--direct-io=on} "$work/ext4.img")
mount -t ext4 "$loopdev" "$work/ext4" && mounted="$work/ext4"

echo "zarvexverifybench: $bench"
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sr), $(nproc) cores, $runs run(s) of each kind"
echo "== ext4 1 GiB ($loopdev): $(df -B1 --output=avail "$work/ext4" | tail -1) bytes free"
out=$(ZARVEX_DRIVES="c=/;t=$work/ext4" "$bench" t "$runs") || { echo "$out"; exit 1; }
echo "$out"
awk '$1 == "ratio" { printf "Short wipe with the last pass verified / without: %.3f (+%.1f %%); reading back alone: %.1f %% of the wipe\n", $2, ($2 - 1) * 100, $3 * 100 }' <<<"$out"
echo "Goal: under 1.10."

# The read-back against dd reading a file of the same volume, direct, with
# 8 and 64 MiB requests, in the same run.
readback=$(awk '$1 == "readback" { print $2 }' <<<"$out")
dd if=/dev/urandom of="$work/ext4/ddread" bs=1M count=512 oflag=direct conv=fsync status=none
best=0
for bs in 8M 64M; do
    t0=$(date +%s%N)
    dd if="$work/ext4/ddread" of=/dev/null bs=$bs iflag=direct status=none
    t1=$(date +%s%N)
    rate=$(awk -v b=$((512 << 20)) -v a="$t0" -v c="$t1" 'BEGIN { printf "%.1f", b / ((c - a) / 1e3) }')
    echo "dd iflag=direct bs=$bs: $rate MB/s"
    best=$(awk -v x="$best" -v y="$rate" 'BEGIN { print (y > x ? y : x) }')
done
rm -f "$work/ext4/ddread"
awk -v r="$readback" -v b="$best" 'BEGIN { printf "read-back %.1f MB/s against the best direct dd %.1f MB/s: %.2f (goal at least 0.9)\n", r, b, r / b }'
