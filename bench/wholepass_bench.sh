#!/usr/bin/env bash
# One whole fill pass (the data fill, the record fill, the read-back and the
# deletion) of an ext4 volume on a direct-I/O loop device, against direct dd
# writing the same free space, in the same run. The loop device reads and
# writes its image past the host's page cache, as a real drive would. Prints
# each stage and the ratio; never asserts. Goal: the whole pass at most 1.6
# times direct dd's time.
#
#   sudo bench/wholepass_bench.sh             # SIZE=8G
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
size=${SIZE:-8G}
source "$here/common.sh"
needs_root "it mounts a loop image"
bench_program zarvexfillbench ZARVEX_FILLBENCH
needs_tools mkfs.ext4 losetup dd

work=$(mktemp -d /tmp/zarvexwhole.XXXXXX)
mounts=()
loopdev=""
cleanup() {
    set +e
    local m
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m"; done
    [[ -n $loopdev ]] && losetup -d "$loopdev"
    remove_work
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Written out in full first, so no run pays for the image's first allocation.
mkdir "$work/ext4"
dd if=/dev/zero of="$work/ext4.img" bs=1M count=$(($(numfmt --from=iec "$size") >> 20)) conv=fsync status=none
mkfs.ext4 -q -F -b 4096 "$work/ext4.img"
loopdev=$(losetup -f --show --direct-io=on "$work/ext4.img")
mount -t ext4 "$loopdev" "$work/ext4" && mounts+=("$work/ext4")
knob=/sys/fs/ext4/$(basename "$loopdev")/reserved_clusters
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sr), $(nproc) cores; ext4 $size on $loopdev (direct I/O)"

out=$(ZARVEX_DRIVES="c=/;t=$work/ext4" "$program" t 2>&1) || { echo "$out"; exit 1; }
grep -E "whole run|data fill|record fill|read-back|deletion" <<<"$out"
engine=$(sed -n 's/.*whole run \([0-9.]*\) s.*/\1/p' <<<"$out")

# dd gets the same room: the reserve the engine releases is released for it.
old=$(cat "$knob" 2>/dev/null)
[[ -w $knob ]] && echo 0 >"$knob"
t0=$(date +%s%N)
dd if=/dev/zero of="$work/ext4/ddfill" bs=1M oflag=direct conv=fsync status=none 2>/dev/null
sync "$work/ext4/ddfill"
t1=$(date +%s%N)
[[ -n $old && -w $knob ]] && echo "$old" >"$knob"
bytes=$(stat -c %s "$work/ext4/ddfill")
dd_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
# The same bytes read back by dd, direct, in 64 MiB requests (its best).
t0=$(date +%s%N)
dd if="$work/ext4/ddfill" of=/dev/null bs=64M iflag=direct status=none
t1=$(date +%s%N)
rm -f "$work/ext4/ddfill"
read_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
readback=$(sed -n 's/.*read-back *\([0-9.]*\) s.*/\1/p' <<<"$out")
echo "dd oflag=direct: $bytes bytes in $dd_s s; dd iflag=direct bs=64M read them in $read_s s"
awk -v e="$engine" -v d="$dd_s" 'BEGIN { printf "whole pass / direct dd: %.2f (goal at most 1.6)\n", e / d }'
awk -v r="$readback" -v d="$read_s" 'BEGIN { printf "read-back speed / direct dd read: %.2f (goal at least 0.9)\n", d / r }'
