#!/usr/bin/env bash
# The file wipe window's file list on folders of 10,000 and 100,000 files
# (on a tmpfs): refresh time against reading the folder alone, the longest
# wait of the event loop meanwhile, and peak memory. Goals: 100,000 files
# listed in under 1 s, no wait over 50 ms, under 100 MiB. Prints, never
# asserts.
#
#   sudo bench/filelist_bench.sh
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
needs_root "it mounts a tmpfs"
bench_program zarvexfilelistbench ZARVEX_FILELISTBENCH
bench=$program

work=$(mktemp -d /tmp/zarvexfilelist.XXXXXX)
cleanup() { set +e; umount "$work/t" 2>/dev/null; remove_work; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
mkdir "$work/t" && mount -t tmpfs -o size=256M tmpfs "$work/t" || exit 1

for n in 10000 100000; do
    mkdir "$work/t/$n"
    (cd "$work/t/$n" && seq -f "file%06g.txt" 1 "$n" | xargs touch)
    echo "== $n files"
    "$bench" "$work/t/$n"
done
