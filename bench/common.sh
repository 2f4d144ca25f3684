# Sourced by the benchmark scripts (after they set `here`): the checks each
# makes before it mounts anything, and the removal of its work folder.
me=$(basename "$0")

needs_root() { # why
    [[ $(id -u) -eq 0 ]] || { echo "$me: run as root ($1)" >&2; exit 2; }
}

needs_tools() { # tool...
    local tool
    for tool; do
        command -v "$tool" >/dev/null || { echo "$me: $tool is missing" >&2; exit 2; }
    done
}

# bench_program NAME VAR [FOLDER]: sets `program` to the benchmark program
# NAME, from $VAR or FOLDER (tools, or bin for the program itself) of the
# build folders beside the scripts; exits when there is none.
bench_program() {
    local c
    program=${!2:-}
    if [[ -z $program ]]; then
        for c in "$here/../build-bench/${3:-tools}/$1" "$here/../build/${3:-tools}/$1"; do
            if [[ -x $c ]]; then program=$c; break; fi
        done
    fi
    [[ -n $program && -x $program ]] || { echo "$me: $1 not found; build it or set $2" >&2; exit 2; }
}

# Deletes $work, never through a mount that is still there.
remove_work() {
    if grep -q " $work/" /proc/self/mountinfo; then
        echo "$me: something is still mounted under $work; left it in place" >&2
    else
        rm -rf --one-file-system "$work"
    fi
}

# Unmounts every folder in `mounts`, the last mounted first, then deletes
# $work as remove_work does: the clean-up of the scripts that mount images.
unmount_all() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}"
    done
    remove_work
}

# make_volume KIND IMAGE MOUNTPOINT SIZE: an ext4 (4 KiB blocks) or NTFS
# (ntfs-3g) image of SIZE, made and mounted, its mount point added to
# `mounts`; false when it cannot be made or is not mounted.
make_volume() {
    mkdir -p "$3" && truncate -s "$4" "$2" || return 1
    if [[ $1 == ext4 ]]; then
        mkfs.ext4 -q -F -b 4096 "$2" && mount -o loop "$2" "$3"
    else
        mkfs.ntfs -q -F -f "$2" >/dev/null 2>&1 && ntfs-3g "$2" "$3"
    fi || return 1
    mounts+=("$3")
    mountpoint -q "$3"
}

# remount KIND IMAGE MOUNTPOINT: mounts an image make_volume made again.
remount() {
    if [[ $1 == ext4 ]]; then mount -o loop "$2" "$3"; else ntfs-3g "$2" "$3"; fi
}
