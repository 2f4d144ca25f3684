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
bench=${ZARVEX_VERIFYBENCH:-}
if [[ -z $bench ]]; then
    for c in "$here/../build-bench/tools/zarvexverifybench" "$here/../build/tools/zarvexverifybench"; do
        if [[ -x $c ]]; then bench=$c; break; fi
    done
fi
if [[ $(id -u) -ne 0 ]]; then
    echo "verify_bench.sh: run as root (it mounts a loop image)" >&2
    exit 2
fi
if [[ -z $bench || ! -x $bench ]]; then
    echo "verify_bench.sh: zarvexverifybench not found; build it or set ZARVEX_VERIFYBENCH" >&2
    exit 2
fi

work=$(mktemp -d /tmp/zarvexverify.XXXXXX)
mounted=""
loopdev=""
cleanup() {
    set +e
    [[ -n $mounted ]] && { umount "$mounted" 2>/dev/null || umount -l "$mounted"; }
    [[ -n $loopdev ]] && losetup -d "$loopdev"
    if grep -q " $work/" /proc/self/mountinfo; then
        echo "verify_bench.sh: something is still mounted under $work; left it in place" >&2
    else
        rm -rf --one-file-system "$work"
    fi
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
