#!/usr/bin/env bash
# Many files against shred, everything included (the read-back, the
# renaming, the deletion): `zarvexwipe folder F --yes` on folders of 200 and
# 2,000 files of 4 KiB (41 passes each) and of 50 files of 1 MiB (21 passes),
# on a 512 MiB ext4 loop image and a 512 MiB NTFS image, and
# `shred -n 41 -u -z` (`-n 21` for the large files) on the same files in the
# same run. Prints seconds and the ratio; never asserts.
#
#   sudo bench/manyfiles_bench.sh        # REPEATS=1
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repeats=${REPEATS:-1}
source "$here/common.sh"
needs_root "it mounts images"
bench_program zarvexwipe ZARVEX_PROGRAM bin
needs_tools mkfs.ext4 mkfs.ntfs ntfs-3g shred

work=$(mktemp -d /tmp/zarvexmany.XXXXXX)
mounts=()
cleanup() { set +e; unmount_all; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# make_files <folder> <count> <size-KiB>
make_files() {
    mkdir -p "$1"
    local i
    for ((i = 1; i <= $2; i++)); do head -c "$(($3 * 1024))" /dev/urandom >"$1/f$i.bin"; done
    sync
}
seconds() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b - a) / 1e9}'; }

printf '%-6s %-14s %10s %10s %8s\n' volume files engine_s shred_s ratio
for kind in ext4 ntfs; do
    img=$work/$kind.img mnt=$work/$kind
    make_volume "$kind" "$img" "$mnt" 512M || { echo "$kind: cannot mount" >&2; continue; }
    for layout in "200 4 41" "2000 4 41" "50 1024 21"; do
        read -r count kib passes <<<"$layout"
        engine=() shredded=()
        for ((r = 0; r < repeats; r++)); do
            make_files "$mnt/d" "$count" "$kib"
            t0=$(date +%s%N)
            ZARVEX_DRIVES="c=/;t=$mnt" XDG_STATE_HOME="$work/state" "$program" folder "$mnt/d" --yes >/dev/null 2>&1
            t1=$(date +%s%N)
            engine+=("$(seconds "$t0" "$t1")")
            rm -rf "$mnt/d"
            make_files "$mnt/d" "$count" "$kib"
            t0=$(date +%s%N)
            shred -n "$passes" -u -z "$mnt"/d/*
            t1=$(date +%s%N)
            shredded+=("$(seconds "$t0" "$t1")")
            rm -rf "$mnt/d"
        done
        e=$(printf '%s\n' "${engine[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
        s=$(printf '%s\n' "${shredded[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
        printf '%-6s %-14s %10s %10s %8s\n' "$kind" "${count}x${kib}KiB" "$e" "$s" "$(awk -v e="$e" -v s="$s" 'BEGIN {printf "%.2f", e / s}')"
    done
done
