#!/usr/bin/env bash
# Window responsiveness during a Short free-space wipe: runs
# zarvexresponsivenessprobe (the real main window, offscreen, real clock) on
# a 1 GiB ext4 loop image and a 256 MiB NTFS image mounted with ntfs-3g, and
# prints how late a 10 ms timer ran: the longest delay and the 99th
# percentile, per run and as medians. Goal: longest delay under 50 ms on
# both volumes. Reports only, never asserts.
#
#   sudo bench/responsiveness.sh                     # REPEATS=3 runs per volume
#   ZARVEX_PROBE=/path/to/zarvexresponsivenessprobe REPEATS=5 sudo -E bench/responsiveness.sh
#
# Each volume is mounted only while its runs last; a trap unmounts it and
# detaches the loop device however the script ends.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repeats=${REPEATS:-3}
source "$here/common.sh"
needs_root "it mounts a loop image and an NTFS image"
bench_program zarvexresponsivenessprobe ZARVEX_PROBE
probe=$program
needs_tools mkfs.ext4 mkfs.ntfs ntfs-3g losetup

work=$(mktemp -d /tmp/zarvexprobe.XXXXXX)
mnt=""
loopdev=""

release() { # unmounts the volume of the moment and frees its loop device
    [[ -n $mnt ]] && { umount "$mnt" 2>/dev/null || umount -l "$mnt"; }
    mnt=""
    [[ -n $loopdev ]] && losetup -d "$loopdev"
    loopdev=""
}
cleanup() {
    set +e
    release
    # Never delete through a mount that is still there.
    remove_work
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

results=$work/results # volume ticks longest p99 seconds
: >"$results"

run_volume() { # volume
    local vol=$1 i out
    echo "== $vol ($mnt): $(df -B1 --output=size,avail "$mnt" | tail -1 | awk '{ printf "%d bytes, %d free", $1, $2 }')"
    for ((i = 1; i <= repeats; i++)); do
        if ! out=$(QT_QPA_PLATFORM=offscreen ZARVEX_DRIVES="c=/;t=$mnt" "$probe" t 2>"$work/log"); then
            echo "  run $i failed: $(tail -3 "$work/log" | tr '\n' ' ')" >&2
            continue
        fi
        grep -E "message:|late at" "$work/log" | sed 's/^/  /' >&2
        awk -v v="$vol" -v i="$i" '$1 == "probe" {
            printf "  %-5s run %d: %6d ticks, longest %7.1f ms, p99 %6.1f ms, wipe %5.1f s\n", v, i, $2, $3, $4, $5
            print v, $2, $3, $4, $5 >> "'"$results"'" }' <<<"$out"
    done
}

echo "zarvexresponsivenessprobe: $probe"
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sr), $(nproc) cores, $repeats run(s) per volume"

# The machine's own floor: the same window and timer for as long as a wipe
# takes, with no wipe (other work on the machine delays the timer too).
if out=$(QT_QPA_PLATFORM=offscreen "$probe" --idle 48 2>/dev/null); then
    awk '$1 == "probe" { printf "== idle, no wipe: %d ticks, longest %.1f ms, p99 %.1f ms\n", $2, $3, $4 }' <<<"$out"
fi

# --- ext4 loop image, 1 GiB, 4 KiB blocks, written out in full first ---
mkdir "$work/ext4"
dd if=/dev/zero of="$work/ext4.img" bs=1M count=1024 conv=fsync status=none
mkfs.ext4 -q -F -b 4096 "$work/ext4.img"
loopdev=$(losetup -f --show "$work/ext4.img")
mount -t ext4 "$loopdev" "$work/ext4" && mnt=$work/ext4 && run_volume ext4
release
rm -f "$work/ext4.img"

# --- NTFS image, 256 MiB, ntfs-3g ---
mkdir "$work/ntfs"
dd if=/dev/zero of="$work/ntfs.img" bs=1M count=256 conv=fsync status=none
mkfs.ntfs -q -F -f "$work/ntfs.img" >/dev/null 2>&1
ntfs-3g "$work/ntfs.img" "$work/ntfs" && mnt=$work/ntfs && run_volume ntfs
release

median() { # volume field (3 longest, 4 p99)
    awk -v v="$1" -v f="$2" '$1 == v { print $f }' "$results" | sort -g |
        awk '{ a[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print a[(NR + 1) / 2]; else print (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
echo
echo "Medians of $repeats run(s), event-loop delay of a 10 ms timer:"
printf '%-6s | %-12s | %-10s\n' volume "longest ms" "p99 ms"
for vol in ext4 ntfs; do
    printf '%-6s | %-12s | %-10s\n' "$vol" "$(median $vol 3)" "$(median $vol 4)"
done
echo "Goal: longest delay under 50 ms on both volumes."
