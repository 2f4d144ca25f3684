#!/usr/bin/env bash
# Fill throughput: one pass of the fill engine against dd, on a 1 GiB tmpfs,
# a 1 GiB ext4 loop image (4 KiB blocks) and a 256 MiB NTFS image mounted
# with ntfs-3g. Each method fills the whole free space and flushes it to
# stable storage; the fill file is deleted after each run. Reports MB/s
# (10^6 bytes per second), never asserts.
#
#   sudo bench/fill_bench.sh            # REPEATS=3 runs per cell, median
#   ZARVEX_FILLBENCH=/path/to/zarvexfillbench REPEATS=5 sudo -E bench/fill_bench.sh
#
# Methods:
#   engine       zarvexfillbench: one engine pass, no pauses; bytes are the
#                fill files' sizes, time is the data fill alone, until every
#                fill file has been written and fsync'ed (the record fill,
#                the read-back and the deletion come after and are printed
#                to stderr on their own).
#   dd-direct    dd if=/dev/zero bs=1M oflag=direct conv=fsync, until full
#   dd-buffered  dd if=/dev/zero bs=1M conv=fsync, until full
# dd stops at ENOSPC before its own fsync, so every dd run is followed by
# `sync <file>` inside the timed span; the rm is outside it. On ext4 the
# engine (as root) releases the file system's reserved_clusters for the
# fill; the dd runs get the same space by setting reserved_clusters to 0
# while they run. The bytes columns show what each method wrote.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repeats=${REPEATS:-3}
source "$here/common.sh"
needs_root "it mounts a tmpfs, a loop image and an NTFS image"
bench_program zarvexfillbench ZARVEX_FILLBENCH
bench=$program
needs_tools mkfs.ext4 mkfs.ntfs ntfs-3g losetup dd

work=$(mktemp -d /tmp/zarvexbench.XXXXXX)
mounts=()
loopdev=""
knob=""
knob_old=""

cleanup() {
    set +e
    [[ -n $knob && -n $knob_old ]] && echo "$knob_old" >"$knob" 2>/dev/null
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}"
    done
    [[ -n $loopdev ]] && losetup -d "$loopdev"
    # Never delete through a mount that is still there.
    remove_work
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

log=$work/log
results=$work/results # volume method bytes ns
: >"$results"

now_ns() { date +%s%N; }

# dd_fill <mnt> <dd flags...>: prints "<bytes> <ns>", or nothing when dd
# failed for another reason than a full drive (no O_DIRECT, say).
dd_fill() {
    local mnt=$1
    shift
    local f=$mnt/ddfill t0 t1 bytes
    t0=$(now_ns)
    if ! dd if=/dev/zero of="$f" bs=1M conv=fsync "$@" 2>"$log"; then
        if ! grep -q "No space left on device" "$log"; then
            echo "  dd $* failed: $(grep -v records "$log" | head -1)" >&2
            rm -f "$f"
            return
        fi
    fi
    sync "$f"
    t1=$(now_ns)
    bytes=$(stat -c %s "$f")
    rm -f "$f"
    sync -f "$mnt"
    ((bytes > 0)) && echo "$bytes $((t1 - t0))"
}

# engine_fill <mnt>: prints "<bytes> <ns>" or nothing.
engine_fill() {
    local mnt=$1 out
    if ! out=$(ZARVEX_DRIVES="c=/;t=$mnt" "$bench" t 2>"$log"); then
        echo "  engine failed: $(tail -2 "$log" | tr '\n' ' ')" >&2
        return
    fi
    # What the fill would have shown in a message box (a disk-full error, say).
    grep "message:" "$log" | sed 's/^/  /' >&2
    sync -f "$mnt"
    awk '$1 == "engine" { printf "%s %.0f\n", $2, $3 * 1e9 }' <<<"$out"
}

record() { # volume method "<bytes> <ns>"|""
    local vol=$1 method=$2 r=$3
    if [[ -z $r ]]; then
        echo "$vol $method - -" >>"$results"
        printf '  %-6s %-11s n/a\n' "$vol" "$method"
        return
    fi
    echo "$vol $method $r" >>"$results"
    awk -v v="$vol" -v m="$method" '{ printf "  %-6s %-11s %12d bytes %8.3f s %8.1f MB/s\n", v, m, $1, $2 / 1e9, $1 * 1e3 / $2 }' <<<"$r"
}

reserve_zero() { # set the ext4 reserve to 0 for the dd runs
    [[ -n $knob ]] || return 0
    echo 0 >"$knob"
}
reserve_back() {
    [[ -n $knob ]] || return 0
    echo "$knob_old" >"$knob"
}

bench_volume() { # volume mnt
    local vol=$1 mnt=$2 i
    echo "== $vol ($mnt): $(df -B1 --output=size,avail "$mnt" | tail -1 | awk '{ printf "%d bytes, %d free", $1, $2 }')"
    # Warm-up, not recorded: the first fill of a volume pays for things the
    # later ones do not.
    reserve_zero
    dd_fill "$mnt" >/dev/null
    reserve_back
    for ((i = 1; i <= repeats; i++)); do
        record "$vol" engine "$(engine_fill "$mnt")"
        reserve_zero
        record "$vol" dd-direct "$(dd_fill "$mnt" oflag=direct)"
        record "$vol" dd-buffered "$(dd_fill "$mnt")"
        reserve_back
    done
}

echo "zarvexfillbench: $bench"
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sr), $(nproc) cores, $repeats run(s) per cell"

# --- tmpfs, 1 GiB ---
mkdir "$work/tmpfs"
mount -t tmpfs -o size=1g zarvexbench "$work/tmpfs" && mounts+=("$work/tmpfs")
bench_volume tmpfs "$work/tmpfs"

# --- ext4 loop image, 1 GiB, 4 KiB blocks ---
# The image is written in full first so that no run pays for the backing
# file's first allocation.
mkdir "$work/ext4"
dd if=/dev/zero of="$work/ext4.img" bs=1M count=1024 conv=fsync status=none
mkfs.ext4 -q -F -b 4096 "$work/ext4.img"
loopdev=$(losetup -f --show "$work/ext4.img")
mount -t ext4 "$loopdev" "$work/ext4" && mounts+=("$work/ext4")
knob=/sys/fs/ext4/$(basename "$loopdev")/reserved_clusters
if [[ -w $knob ]]; then knob_old=$(cat "$knob"); else knob=""; fi
echo "   ext4 reserved_clusters: ${knob_old:-unknown} (0 during the dd runs; the engine releases it itself)"
bench_volume ext4 "$work/ext4"
reserve_back
knob=""

# --- NTFS image, 256 MiB, ntfs-3g ---
mkdir "$work/ntfs"
dd if=/dev/zero of="$work/ntfs.img" bs=1M count=256 conv=fsync status=none
mkfs.ntfs -q -F -f "$work/ntfs.img" >/dev/null 2>&1
ntfs-3g "$work/ntfs.img" "$work/ntfs" && mounts+=("$work/ntfs")
bench_volume ntfs "$work/ntfs"

# --- table: medians over the runs ---
median() { # volume method field(3 bytes, 4 MB/s): median or "n/a"
    awk -v v="$1" -v m="$2" -v f="$3" '$1 == v && $2 == m && $3 != "-" {
        x = (f == 3) ? $3 : $3 * 1e3 / $4; print x }' "$results" | sort -g |
        awk '{ a[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print a[(NR + 1) / 2]; else print (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "n/a" || b == "n/a" || b == 0) print "n/a"; else printf "%.2f", a / b }'; }
mbps() { [[ $1 == n/a ]] && echo n/a || printf '%.1f' "$1"; }
mib() { [[ $1 == n/a ]] && echo n/a || awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

echo
echo "Medians of $repeats run(s); MB/s = 10^6 bytes/s; MiB written in brackets."
printf '%-6s | %-18s | %-18s | %-18s | %-13s | %-15s\n' volume engine dd-direct dd-buffered engine/direct engine/buffered
printf '%s\n' "-------+--------------------+--------------------+--------------------+---------------+----------------"
for vol in tmpfs ext4 ntfs; do
    e=$(median $vol engine 4) d=$(median $vol dd-direct 4) b=$(median $vol dd-buffered 4)
    eb=$(median $vol engine 3) db=$(median $vol dd-direct 3) bb=$(median $vol dd-buffered 3)
    printf '%-6s | %-18s | %-18s | %-18s | %-13s | %-15s\n' "$vol" \
        "$(mbps "$e") ($(mib "$eb"))" "$(mbps "$d") ($(mib "$db"))" "$(mbps "$b") ($(mib "$bb"))" \
        "$(ratio "$e" "$d")" "$(ratio "$e" "$b")"
done
echo "Goal: engine/direct >= 0.95 on every volume (where direct dd runs at all)."
