#pragma once
// Whole disks as the kernel shows them (/sys/block): what a wipe of a whole
// disk is offered, and why a disk may not be wiped. A disk is a block device
// with a device behind it (a SATA, SCSI, USB, NVMe or virtual disk) or an
// attached loop device; the stacks built on disks (device-mapper, RAID) and
// memory disks are no disks of their own.
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace platform {

struct DiskPart {
    QString device;            // "/dev/sda1"
    std::uint64_t bytes = 0;
    QStringList mountPoints;   // where it is mounted now
};

struct Disk {
    QString name;              // "sda", "nvme0n1", "loop3"
    QString device;            // "/dev/sda"
    QString model;             // empty where the device gives none
    QString serial;
    std::uint64_t bytes = 0;
    std::uint32_t logicalSector = 512;
    QString transport;         // "USB", "SATA", "NVMe", "SCSI", "virtio", "loop", "other"
    bool rotational = false;
    bool removable = false;
    unsigned major = 0, minor = 0;
    QStringList mountPoints;   // of the disk itself (a file system on the whole disk)
    QList<DiskPart> parts;
};

// The whole disks, by name.
QList<Disk> listDisks();

// Why the disk may not be wiped, each naming what holds it: it (or one of
// its partitions) holds /, /boot or /usr, is an active swap, or belongs to a
// RAID, LVM or device-mapper stack in use. Empty: it may be wiped (after
// its mounted partitions are unmounted, each agreed to).
QStringList refusalsOf(const Disk& disk);

// A SATA drive, or one behind a USB bridge: ATA commands may reach it
// through the SCSI-ATA translation.
bool speaksAta(const Disk& disk);

// "64.0 MiB", "1.0 TB": a disk's size as a person reads it.
QString diskSizeText(std::uint64_t bytes);

} // namespace platform
