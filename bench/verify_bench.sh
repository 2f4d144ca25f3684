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
loopdev=$(losetup -f --show "$work/ext4.img")
mount -t ext4 "$loopdev" "$work/ext4" && mounted="$work/ext4"

echo "zarvexverifybench: $bench"
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sr), $(nproc) cores, $runs run(s) of each kind"
echo "== ext4 1 GiB ($loopdev): $(df -B1 --output=avail "$work/ext4" | tail -1) bytes free"
out=$(ZARVEX_DRIVES="c=/;t=$work/ext4" "$bench" t "$runs") || { echo "$out"; exit 1; }
echo "$out"
awk '$1 == "ratio" { printf "Short wipe with the last pass verified / without: %.3f (+%.1f %%); reading back alone: %.1f %% of the wipe\n", $2, ($2 - 1) * 100, $3 * 100 }' <<<"$out"
echo "Goal: under 1.10."
