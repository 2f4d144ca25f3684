#!/usr/bin/env bash
# Deleted files' names after a Short free-space wipe, on a 256 MiB ext4
# image (4 KiB blocks) and a 256 MiB NTFS image: 100 files of 4 KiB to 1 MiB
# in a folder, 300 small files in the root and a folder of 200 small files,
# all deleted before the wipe. Counts the copies of their names in the raw
# image (UTF-8 and UTF-16) before and after, the time the wipe took, the
# time of its journal step (ext4, from strace when there is one), and what
# must not grow: the NTFS master file table's allocation, ext4's used blocks.
# Prints figures; never asserts.
#
#   sudo bench/names_bench.sh
#   sudo KEEP_FOLDERS=1 LEVEL=complete KINDS=ntfs bench/names_bench.sh
#
# KEEP_FOLDERS=1: both folders stay, each with one file of another name.
# LEVEL=complete: a Complete Wipe (12 passes), which covers every folder's
# index; a Short one covers the root's.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
needs_root "it mounts images"
bench_program zarvexwipe ZARVEX_PROGRAM bin
needs_tools mkfs.ext4 mkfs.ntfs ntfs-3g ntfsinfo python3

work=$(mktemp -d /tmp/zarvexnames.XXXXXX)
mounts=()
cleanup() { set +e; unmount_all; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

count_names() { # image
    python3 - "$1" <<'PY'
import re, sys
d = open(sys.argv[1], 'rb').read()
narrow = re.findall(rb'qzsecret-[a-z]+-\d{3}', d)
wide = re.findall(rb'q\0z\0s\0e\0c\0r\0e\0t\0-\0(?:[a-z]\0)+-\0\d\0\d\0\d\0', d)
kinds = {k: sum(1 for n in narrow if k.encode() in n) + sum(1 for n in wide if k.encode('utf-16-le') in n)
         for k in ('letter', 'note', 'memo')}
print(f"{len(narrow) + len(wide)} copies of {len(set(narrow)) + len(set(wide))} names"
      f" (copies: docs/letter {kinds['letter']}, root/note {kinds['note']}, gone/memo {kinds['memo']})")
PY
}
kept() { # kind image mountpoint: what must not grow
    if [[ $1 == ntfs ]]; then
        ntfsinfo -i 0 -v "$2" 2>/dev/null | awk '/Allocated size/ {print "MFT allocated " $3; exit}'
    else
        df -B1 --output=used "$3" | tail -1 | awk '{print "used bytes " $1}'
    fi
}

mode=(--short)
[[ ${LEVEL:-short} == complete ]] && mode=()
for kind in ${KINDS:-ext4 ntfs}; do
    img=$work/$kind.img mnt=$work/$kind
    make_volume "$kind" "$img" "$mnt" 256M || { echo "$me: cannot make the $kind volume" >&2; continue; }
    mkdir "$mnt/docs" "$mnt/gone"
    for i in $(seq 100 199); do head -c $((4096 + (i - 100) * 10500)) /dev/urandom >"$mnt/docs/qzsecret-letter-$i.docx"; done
    for i in $(seq 300 599); do head -c $((40 + i - 300)) /dev/urandom >"$mnt/qzsecret-note-$i.txt"; done
    for i in $(seq 600 799); do head -c 100 /dev/urandom >"$mnt/gone/qzsecret-memo-$i.txt"; done
    sync
    if [[ ${KEEP_FOLDERS:-} == 1 ]]; then
        echo kept >"$mnt/docs/kept.txt" && echo kept >"$mnt/gone/kept.txt"
        rm -f "$mnt"/docs/qzsecret-* "$mnt"/gone/qzsecret-* "$mnt"/qzsecret-*
    else
        rm -rf "$mnt/docs" "$mnt/gone" "$mnt"/qzsecret-*
    fi
    sync
    [[ $kind == ext4 ]] && before_kept=$(kept $kind "$img" "$mnt")
    umount "$mnt"
    echo "$kind before: $(count_names "$img")"
    [[ $kind == ntfs ]] && before_kept=$(kept $kind "$img" "$mnt")
    remount "$kind" "$img" "$mnt"
    trace=()
    command -v strace >/dev/null && trace=(strace -f -tt -e trace=mkdir,rmdir -o "$work/$kind.trace")
    start=$(date +%s%N)
    ZARVEX_DRIVES="c=/;t=$mnt" "${trace[@]}" "$program" free-space t: "${mode[@]}" --yes >"$work/$kind.out" 2>&1
    end=$(date +%s%N)
    cp "$work/$kind.out" "/tmp/names_bench_$kind.out" 2>/dev/null
    [[ $kind == ext4 ]] && after_kept=$(kept $kind "$img" "$mnt")
    umount "$mnt"
    mounts=()
    [[ $kind == ntfs ]] && after_kept=$(kept $kind "$img" "$mnt")
    echo "$kind after:  $(count_names "$img")"
    echo "$kind wipe: $(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.1f", (b - a) / 1e9}') s; $before_kept before, $after_kept after"
    if [[ -s $work/$kind.trace ]] && grep -q tmptxtj "$work/$kind.trace"; then
        grep tmptxtj "$work/$kind.trace" | awk '{split($2, t, ":"); s = t[1] * 3600 + t[2] * 60 + t[3]; if (!a) a = s; b = s}
            END {printf "%s journal step: %.1f s\n", "'"$kind"'", b - a}'
    fi
done
