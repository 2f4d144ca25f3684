#!/usr/bin/env bash
# Kills free-space wipes at random moments and checks that the next start of
# the program leaves each drive clean: no fill file or fill folder at its
# root, and ext4's reserve as it was. Prints "clean/total" per file system;
# exits 1 unless every run was clean.
#
#   tests/killstorm.sh BUILD_DIR [KILLS_PER_FILE_SYSTEM] [SEED]
#
# Needs root (loop devices, mounts); exits 77 (skipped) without it. Every
# volume is a small image under its own temporary folder, unmounted and
# removed whatever happens.
{
set -uo pipefail
build=$(cd "${1:?usage: killstorm.sh BUILD_DIR [KILLS] [SEED]}" && pwd)
kills=${2:-3}
RANDOM=${3:-1}
program=$build/bin/zarvexwipe
[ "$(id -u)" -eq 0 ] || { echo "killstorm: needs root"; exit 77; }
[ -x "$program" ] || { echo "killstorm: no $program"; exit 2; }

work=$(mktemp -d /tmp/zarvex-killstorm.XXXXXX)
cleanup() {
    awk -v t="$work/" 'index($5, t) == 1 {print $5}' /proc/self/mountinfo | sort -r |
        while read -r m; do umount -l "$m" 2>/dev/null; done
    losetup -n -O NAME,BACK-FILE 2>/dev/null | awk -v t="$work/" 'index($2, t) == 1 {print $1}' |
        while read -r l; do losetup -d "$l" 2>/dev/null; done
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

# Makes and mounts a volume of the kind at $work/mnt; false when this machine cannot.
make_volume() {
    local kind=$1 image=$work/image
    mkdir -p "$work/mnt"
    case $kind in
        ext4) truncate -s 48M "$image" && mkfs.ext4 -q -F "$image" && mount -o loop "$image" "$work/mnt" ;;
        btrfs) truncate -s 128M "$image" && mkfs.btrfs -q -f "$image" >/dev/null && mount -o loop "$image" "$work/mnt" ;;
        ntfs) truncate -s 48M "$image" && mkfs.ntfs -q -F -f "$image" >/dev/null 2>&1 && ntfs-3g "$image" "$work/mnt" ;;
    esac
}
drop_volume() {
    umount "$work/mnt" 2>/dev/null || umount -l "$work/mnt"
    rm -f "$work/image"
}
# What a wipe may leave: its fill files and fill folders at the root.
leftovers() { find "$work/mnt" -maxdepth 1 -name 'tmptxt*' -printf '%f ' 2>/dev/null; }
reserve() {
    local dev knob
    dev=$(findmnt -n -o MAJ:MIN --target "$work/mnt")
    knob=/sys/fs/ext4/$(basename "$(readlink -f "/sys/dev/block/$dev")")/reserved_clusters
    [ -r "$knob" ] && cat "$knob" || echo none
}

all_clean=1
for kind in ext4 ntfs btrfs; do
    clean=0 total=0
    for ((i = 1; i <= kills; i++)); do
        if ! make_volume "$kind"; then
            echo "$kind: skipped (cannot make the volume)"
            drop_volume 2>/dev/null
            break
        fi
        state=$work/state-$kind-$i
        mkdir -p "$state"
        head -c 4M /dev/urandom >"$work/mnt/data.bin" && sync
        rm -f "$work/mnt/data.bin"
        before=$(reserve)
        # Seeded: the same seed kills at the same moments (0.1 to 6 s in).
        delay=$(printf '0.%03d' $((RANDOM % 1000)))
        delay=$(awk -v d="$delay" -v s=$((RANDOM % 6)) 'BEGIN {print s + d + 0.1}')
        env XDG_STATE_HOME="$state" ZARVEX_DRIVES="c=/;t=$work/mnt" QT_QPA_PLATFORM=offscreen \
            "$program" free-space t: --short --yes >"$work/wipe.log" 2>&1 &
        pid=$!
        sleep "$delay"
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        # Any start of the program repairs what a killed wipe left.
        env XDG_STATE_HOME="$state" ZARVEX_DRIVES="c=/;t=$work/mnt" QT_QPA_PLATFORM=offscreen \
            "$program" records >"$work/repair.log" 2>&1
        left=$(leftovers)
        after=$(reserve)
        total=$((total + 1))
        if [ -z "$left" ] && [ "$before" = "$after" ]; then
            clean=$((clean + 1))
        else
            echo "$kind run $i (killed after ${delay}s): left [${left}] reserve $before -> $after"
            sed 's/^/    /' "$work/repair.log"
        fi
        drop_volume
    done
    echo "$kind: $clean/$total clean"
    [ "$clean" -eq "$total" ] || all_clean=0
done
[ "$all_clean" = 1 ]
exit
}
