#pragma once
// What the program asks of the operating system about drives. The Linux
// implementation answers from the drive table; tests may stand in for a
// drive kind this machine cannot have (a CD drive, a USB stick).
#include "platform/drivetable.h"

#include <QString>
#include <cstdint>

namespace platform {

enum DriveTypeCode : int {
    DriveUnknown = 0,
    DriveRemovable = 1,
    DriveFixed = 2,
    DriveNetwork = 3,
    DriveCdRom = 4,
    DriveRamDisk = 5,
};

class DriveServices {
public:
    virtual ~DriveServices() = default;
    virtual DriveTable table() const = 0;
    // Type code of the drive that `drivePath` names; throws RunTimeError(68)
    // for an unknown letter.
    virtual int typeCode(const QString& drivePath) const = 0;
    virtual bool isReady(const QString& drivePath) const = 0;
    // Bytes this caller can write on the drive; throws RunTimeError when the
    // drive cannot be queried.
    virtual std::uint64_t freeBytes(const QString& drivePath) const = 0;
    // Native path for a drive path; throws RunTimeError(68) for an unknown
    // letter (a drive that is not there).
    QString nativePath(const QString& drivePath) const;
};

class LinuxDriveServices : public DriveServices {
public:
    DriveTable table() const override;
    int typeCode(const QString& drivePath) const override;
    bool isReady(const QString& drivePath) const override;
    std::uint64_t freeBytes(const QString& drivePath) const override;
};

// Bytes this caller can write on the file system holding a native folder.
// The volume at `folder` does not say how large it is (its driver reports
// no blocks at all, as some FUSE drivers do): its free space is unknown, not
// nil.
bool sizeUnknownAt(const QString& folder);
// The volume at `folder` is mounted read-only (or was turned so after an error).
bool readOnlyAt(const QString& folder);
std::uint64_t freeBytesAt(const QString& nativeFolder);
// Tells the device behind the folder's file system that its free space is
// free (FITRIM), so that flash and thin storage can drop what the fill
// wrote there and the old copies they keep; true when the device took it.
// Needs root; false where it is not supported.
bool trimFreeSpace(const QString& nativeFolder);
// The device number of the file system holding a path; 0 when it cannot be
// examined.
std::uint64_t deviceOf(const QString& nativePath);

// Type code of a mount, as the drive table sees it.
int typeCodeForMount(const MountEntry& mount);

// The services the program runs with.
DriveServices& systemDrives();

} // namespace platform
