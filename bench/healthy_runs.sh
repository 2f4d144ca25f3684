#!/usr/bin/env bash
# How often a Complete free-space wipe of a healthy drive says the drive may
# be failing: RUNS wipes (12 passes, pauses off, the last pass read back on
# every other one) of a 64 MiB image each of NTFS (ntfs-3g on a loop
# device) and ext4, and a 128 MiB btrfs image (its smallest). A healthy image
# must give 0. Prints, never asserts.
#
#   sudo bench/healthy_runs.sh            # RUNS=20, every kind
#   sudo bench/healthy_runs.sh btrfs      # only these kinds
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
runs=${RUNS:-20}
source "$here/common.sh"
needs_root "it mounts images"
bench_program zarvexverifybench ZARVEX_VERIFYBENCH
bench=$program
needs_tools losetup mkfs.ntfs ntfs-3g mkfs.ext4

work=$(mktemp -d /tmp/zarvexhealthy.XXXXXX)
mounted="" loopdev=""
detach() {
    [[ -n $mounted ]] && { umount "$mounted" 2>/dev/null || umount -l "$mounted"; }
    [[ -n $loopdev ]] && losetup -d "$loopdev"
    mounted="" loopdev=""
}
cleanup() { set +e; detach; remove_work; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

printf '%-6s %6s %8s %10s\n' drive wipes failing incomplete
kinds=("$@")
[[ ${#kinds[@]} -gt 0 ]] || kinds=(ntfs ext4 btrfs)
for kind in "${kinds[@]}"; do
    [[ $kind == btrfs ]] && ! command -v mkfs.btrfs >/dev/null && { echo "btrfs: mkfs.btrfs is missing"; continue; }
    img=$work/$kind.img mnt=$work/$kind
    mkdir -p "$mnt" && truncate -s "$([[ $kind == btrfs ]] && echo 128M || echo 64M)" "$img"
    case $kind in
        ntfs) mkfs.ntfs -q -F -f "$img" >/dev/null 2>&1 ;;
        ext4) mkfs.ext4 -q -F "$img" ;;
        btrfs) mkfs.btrfs -q -f "$img" >/dev/null ;;
    esac
    loopdev=$(losetup -f --show "$img") || { echo "$kind: no loop device" >&2; continue; }
    if [[ $kind == ntfs ]]; then ntfs-3g "$loopdev" "$mnt"; else mount "$loopdev" "$mnt"; fi && mounted=$mnt
    [[ -n $mounted ]] || { echo "$kind: cannot mount" >&2; detach; continue; }
    # The bench runs one warm-up wipe, then `runs` pairs; half the pairs cover `runs` wipes.
    pairs=$(( (runs + 1) / 2 ))
    out=$(ZARVEX_DRIVES="c=/;t=$mnt" "$bench" t "$pairs" complete 2>&1)
    wipes=$(( pairs * 2 + 1 ))
    failing=$(grep -c "may indicated your drive is failing" <<<"$out")
    incomplete=$(grep -c "did not complete" <<<"$out")
    printf '%-6s %6s %8s %10s\n' "$kind" "$wipes" "$failing" "$incomplete"
    detach
done
