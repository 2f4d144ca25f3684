#!/usr/bin/env bash
# Overwrite throughput of the file wipe against shred: a 256 MiB file gets 21
# passes, each flushed to the disk, on a 512 MiB ext4 loop image (4 KiB
# blocks) and a 512 MiB NTFS image through ntfs-3g. The file wipe's waits are
# left out (they are pauses, not work). Then one pass over a 4 GiB file shows
# that memory stays flat whatever the file's size. Prints, never asserts.
#
#   sudo bench/overwrite_bench.sh        # REPEATS=3 runs per cell, median
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repeats=${REPEATS:-3}
source "$here/common.sh"
needs_root "it mounts images"
bench_program zarvexoverwritebench ZARVEX_OVERWRITEBENCH
bench=$program
needs_tools mkfs.ext4 mkfs.ntfs ntfs-3g shred

work=$(mktemp -d /tmp/zarvexowbench.XXXXXX)
mounts=()
cleanup() { set +e; unmount_all; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
mbps() { awk -v b="$1" -v ns="$2" 'BEGIN {printf "%.1f", b / 1e6 / (ns / 1e9)}'; }

printf '%-6s %12s %12s %8s %14s %14s\n' volume engine_MB/s shred_MB/s ratio engine_KiB shred_KiB
for kind in ext4 ntfs; do
    mnt=$work/$kind
    make_volume "$kind" "$work/$kind.img" "$mnt" 512M || { echo "$kind: cannot make the image" >&2; continue; }
    engine=() shredded=() rss_engine=0 rss_shred=0
    for ((r = 0; r < repeats; r++)); do
        f=$mnt/victim.bin
        head -c 256M /dev/urandom >"$f" && sync "$f"
        read -r bytes ns rss < <("$bench" "$f" 21)
        engine+=("$(mbps "$bytes" "$ns")")
        rss_engine=$rss
        t0=$(date +%s%N)
        rss=$( { /usr/bin/env time -f %M shred -n 21 -x "$f"; } 2>&1 >/dev/null | tail -n 1 )
        t1=$(date +%s%N)
        shredded+=("$(mbps $((21 * 256 * 1024 * 1024)) $((t1 - t0)))")
        [[ $rss =~ ^[0-9]+$ ]] && rss_shred=$rss
        rm -f "$f"
    done
    e=$(printf '%s\n' "${engine[@]}" | median)
    s=$(printf '%s\n' "${shredded[@]}" | median)
    printf '%-6s %12s %12s %8s %14s %14s\n' "$kind" "$e" "$s" "$(awk -v e="$e" -v s="$s" 'BEGIN {printf "%.2f", e / s}')" \
        "$rss_engine" "$rss_shred"
done

# A compressing volume: each pass mixed with a keyed stream so that it is
# not stored compressed. Its throughput against the plain volume's, the
# same file size and passes, in the same run (goal: at least 0.9).
if command -v mkfs.btrfs >/dev/null; then
    printf '%-12s %12s\n' btrfs MB/s
    for options in "" compress=zstd; do
        img=$work/btrfs${options:+-zstd}.img mnt=$work/btrfs${options:+-zstd}
        mkdir -p "$mnt" && truncate -s 1536M "$img" && mkfs.btrfs -q -f "$img" >/dev/null &&
            mount -o "loop${options:+,$options}" "$img" "$mnt" || { echo "btrfs $options: cannot mount" >&2; continue; }
        mounts+=("$mnt")
        runs=()
        for ((r = 0; r < repeats; r++)); do
            head -c 256M /dev/urandom >"$mnt/victim.bin" && sync "$mnt/victim.bin"
            read -r bytes ns _ < <("$bench" "$mnt/victim.bin" 21 ${options:+mixed})
            runs+=("$(mbps "$bytes" "$ns")")
            rm -f "$mnt/victim.bin"
        done
        rate=$(printf '%s\n' "${runs[@]}" | median)
        printf '%-12s %12s\n' "${options:-plain}" "$rate"
        [[ -z $options ]] && plain=$rate || echo "compressing / plain: $(awk -v z="$rate" -v p="$plain" 'BEGIN {printf "%.2f", z / p}')"
    done
fi

# Memory whatever the size: one pass over a 4 GiB file on an ext4 image.
mnt=$work/big
make_volume ext4 "$work/big.img" "$mnt" 5120M && {
    truncate -s 4G "$mnt/big.bin"
    read -r bytes ns rss < <("$bench" "$mnt/big.bin" 1)
    echo "4 GiB file, one pass: $(mbps "$bytes" "$ns") MB/s, peak memory ${rss} KiB"
}
