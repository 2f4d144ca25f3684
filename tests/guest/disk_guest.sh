#!/usr/bin/env bash
# The whole-disk wipe against real device drivers: an emulated machine
# (qemu, software emulation: KVM guests hang in this machine) boots Debian's
# kernel with a busybox initramfs that holds the program, and sees three
# 64 MiB disks, one per kind of attachment: NVMe, SATA (AHCI) and SCSI
# (virtio-scsi). Each carries a marker in every MiB and an MBR partition
# table with one partition. In the guest the program lists the disks (with
# what each offers of its own erase), then runs each row: a row passes when
# the command's exit status is the one expected and the guest then reads the
# markers it must on the disk (none after a wipe, all after a refusal). The
# device's own erase runs here for real: the emulated NVMe drive's Format
# NVM with Secure Erase. Back on the host every image must hold no marker.
#
#   sudo tests/guest/disk_guest.sh         # ZARVEX_PROGRAM=build/bin/zarvexwipe
#
# Without the emulator, a kernel or busybox it skips, saying what is missing
# (exit 0). It takes one to three minutes; it is not part of the default suite.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
program=${ZARVEX_PROGRAM:-$root/build/bin/zarvexwipe}
skip() { echo "disk_guest: skipped: $*"; exit 0; }

[[ $(id -u) == 0 ]] || skip "it needs root (to read the kernel's modules)"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is missing (apt-get install qemu-system-x86)"
kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -1)
[[ -n $kernel ]] || skip "no kernel in /boot (apt-get install linux-image-amd64)"
kver=${kernel#/boot/vmlinuz-}
busybox=$(command -v busybox) || skip "busybox is missing (apt-get install busybox-static)"
file -L "$busybox" | grep -q 'statically linked' || skip "$busybox is not the static one (busybox-static)"
for tool in cpio modinfo python3 file; do command -v $tool >/dev/null || skip "$tool is missing"; done
[[ -x $program ]] || skip "$program is not built"

work=$(mktemp -d /tmp/zarvexguest.XXXXXX)
trap '[[ -n ${KEEP_GUEST:-} ]] || rm -rf "$work"' EXIT
marker=zqxguestmarker-

# --- the disks: a marker in every MiB, one partition -------------------------
make_disk() { # name
    local img=$work/$1.img
    truncate -s 64M "$img"
    for ((i = 0; i < 64; i++)); do
        printf '%s%02d' "$marker" "$i" | dd of="$img" bs=1 seek=$((i * 1048576 + 4096)) conv=notrunc status=none
    done
    # An MBR with one Linux partition from sector 2048 to the end.
    python3 - "$img" <<'PY'
import struct, sys
entry = struct.pack('<B3sB3sII', 0, b'\0\0\0', 0x83, b'\0\0\0', 2048, 64 * 2048 - 2048)
with open(sys.argv[1], 'r+b') as f:
    f.seek(446); f.write(entry); f.seek(510); f.write(b'\x55\xaa')
PY
}
markers() { grep -c -a -o "$marker" "$work/$1.img" 2>/dev/null | awk '{s += $1} END {print s + 0}'; }
for d in nvme sata scsi; do make_disk $d; done

# --- the initramfs: busybox, the program and its libraries, the drivers ------
fs=$work/initramfs
mkdir -p "$fs"/{bin,dev,proc,sys,tmp,mnt,lib/modules,root}
cp "$busybox" "$fs/bin/busybox"
ln -s busybox "$fs/bin/sh"
copy_with_path() { mkdir -p "$fs$(dirname "$1")" && cp -L "$1" "$fs$1"; }
copy_with_path "$program"
for lib in $(ldd "$program" | awk '/=>/ {print $3} /ld-linux/ {print $1}'); do copy_with_path "$lib"; done
# mkfs.ext4 for the new partition table's row.
for tool in /usr/sbin/mkfs.ext4 /usr/sbin/mke2fs; do
    [[ -e $tool ]] || continue
    copy_with_path "$tool"
    for lib in $(ldd "$tool" | awk '/=>/ {print $3}'); do copy_with_path "$lib"; done
done
[[ -f /etc/mke2fs.conf ]] && copy_with_path /etc/mke2fs.conf
plugins=$(qtpaths6 --query QT_INSTALL_PLUGINS 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt6/plugins)
[[ -f $plugins/sqldrivers/libqsqlite.so ]] && copy_with_path "$plugins/sqldrivers/libqsqlite.so" &&
    for lib in $(ldd "$plugins/sqldrivers/libqsqlite.so" | awk '/=>/ {print $3}'); do copy_with_path "$lib"; done

# Each module after what it needs, once.
declare -A loaded=()
order=()
want() {
    local m=$1 dep
    [[ -n ${loaded[$m]:-} ]] && return
    loaded[$m]=1
    for dep in $(modinfo -k "$kver" -F depends "$m" 2>/dev/null | tr ',' ' '); do want "$dep"; done
    local file
    file=$(modinfo -k "$kver" -n "$m" 2>/dev/null) || return
    [[ $file == /* ]] || return # built in
    cp "$file" "$fs/lib/modules/" && order+=("$(basename "$file")")
}
for m in crc64 crc64_rocksoft_generic crct10dif_generic crc32c_generic nvme ahci sd_mod virtio_pci virtio_scsi ext4; do
    want "$m"
done

cat >"$fs/init" <<EOF
#!/bin/sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
for m in ${order[*]}; do insmod /lib/modules/\$m 2>/dev/null; done
for i in 1 2 3 4 5 6 7 8 9 10; do [ -b /dev/nvme0n1 ] && [ -b /dev/sda ] && [ -b /dev/sdb ] && break; sleep 1; done
export HOME=/root XDG_STATE_HOME=/root/state
mkdir -p /root/state
echo "=== disks"
$program disks
run() { # name device command...
    name=\$1 device=\$2; shift 2
    echo "=== \$name: \$*"
    "\$@"
    echo "=== \$name rc=\$? markers=\$(grep -a -o $marker \$device | wc -l)"
}
EOF
# The rows: the disk, what runs in the guest, the exit status expected and
# the markers the guest must then read on the disk (64: untouched).
rows=(
    "nvme-refused-active-swap^/dev/nvme0n1^mkswap /dev/nvme0n1p1 >/dev/null && swapon /dev/nvme0n1p1 && { $program disk /dev/nvme0n1 --method zero --yes; rc=\$?; swapoff /dev/nvme0n1p1; exit \$rc; }^1^64"
    "nvme-own-erase^/dev/nvme0n1^$program disk /dev/nvme0n1 --method erase --yes^0^0"
    "sata-own-erase-refused^/dev/sda^$program disk /dev/sda --method erase --yes^1^64"
    "sata-mounted-partition-unmounted-then-random-sample^/dev/sda^mke2fs -q /dev/sda1 && mkdir -p /mnt/s && mount /dev/sda1 /mnt/s && $program disk /dev/sda --passes 2 --verify sample --yes^0^0"
    "sata-new-table-ext4^/dev/sda^$program disk /dev/sda --method zero --new-table ext4 --label ZQXNEW --yes && findfs LABEL=ZQXNEW^0^0"
    "scsi-own-erase-refused^/dev/sdb^$program disk /dev/sdb --method erase --yes^1^64"
    "scsi-discard^/dev/sdb^$program disk /dev/sdb --method discard --yes^0^0"
    "nvme-overwrite^/dev/nvme0n1^$program disk /dev/nvme0n1 --method zero --yes^0^0"
)
for row in "${rows[@]}"; do
    IFS='^' read -r name device command _ _ <<<"$row"
    echo "run $name $device sh -c '$command'" >>"$fs/init"
done
echo 'sync; poweroff -f' >>"$fs/init"
chmod +x "$fs/init"
(cd "$fs" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

# --- the guest ---------------------------------------------------------------
timeout 600 qemu-system-x86_64 -accel tcg -m 1024 -nographic -no-reboot \
    -kernel "$kernel" -initrd "$work/initramfs.gz" -append "console=ttyS0 quiet panic=-1" \
    -drive file="$work/nvme.img",if=none,id=n0,format=raw -device nvme,drive=n0,serial=ZQXNVME01 \
    -device ahci,id=ahci -drive file="$work/sata.img",if=none,id=s0,format=raw -device ide-hd,drive=s0,bus=ahci.0,serial=ZQXSATA01,model=ZQX-SATA \
    -device virtio-scsi-pci,id=vs -drive file="$work/scsi.img",if=none,id=c0,format=raw,discard=unmap \
    -device scsi-hd,drive=c0,bus=vs.0,serial=ZQXSCSI01 >"$work/console.txt" 2>&1
tr -d '\r' <"$work/console.txt" | sed -n '/=== disks/,$p' | sed 's/^.*=== disks/=== disks/' | grep -v '^  pass ' >"$work/log.txt"
cat "$work/log.txt"

# --- the verdict, read from the images -----------------------------------------
failed=0
expect_markers() { # name image count
    local got
    got=$(markers "$2")
    [[ $got == "$3" ]] || { echo "FAIL $1: $got markers in $2.img, expected $3"; failed=1; }
}
for row in "${rows[@]}"; do
    IFS='^' read -r name _ _ rc left <<<"$row"
    got=$(grep -o "^=== $name rc=[0-9]* markers=[0-9]*" "$work/log.txt")
    [[ $got == "=== $name rc=$rc markers=$left" ]] ||
        { echo "FAIL $name: ${got:-no result}, expected rc=$rc markers=$left"; failed=1; }
done
# Every disk ends wiped, as the host reads its image.
for d in nvme sata scsi; do expect_markers "$d at the end" $d 0; done
# The SATA drive is asked what it hides (qemu's drive hides nothing).
grep -q "hidden areas: No hidden area: the host sees 131072 sectors" "$work/log.txt" ||
    { echo "FAIL: the SATA drive's hidden areas were not read"; failed=1; }
# Each drive is asked for its own erases, and says why it offers none:
# the SATA drive through ATA IDENTIFY and REPORT SUPPORTED OPERATION CODES.
for says in "no ATA security feature set" "it takes no SANITIZE" "REPORT SUPPORTED OPERATION CODES" "no secure discard"; do
    grep -q "its own erase: .*$says" "$work/log.txt" || { echo "FAIL: no disk says \"$says\""; failed=1; }
done
for serial in ZQXNVME01 ZQXSATA01 ZQXSCSI01; do
    grep -q "$serial" "$work/log.txt" || { echo "FAIL: the disk list names no disk with serial $serial"; failed=1; }
done
((failed)) && { echo "disk_guest: FAILED; the guest's console ends:"; tr -d '\r' <"$work/console.txt" | tail -30; exit 1; }
echo "disk_guest: all rows passed"
