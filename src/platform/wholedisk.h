#pragma once
// A whole disk opened for its wipe. It is opened once, exclusively
// (O_EXCL: the kernel refuses a disk that is mounted, or that a RAID, LVM or
// device-mapper stack holds) and direct, and proven to be the disk that was
// listed (its device numbers): whatever the name comes to mean later, every
// write and read goes to this descriptor.
#include "platform/disks.h"

#include <QString>
#include <cstddef>
#include <cstdint>

namespace platform {

class WholeDisk {
public:
    // Throws RunTimeError: 70 (refused, with the reason) when the name is no
    // block device now, another one than `listed`, or in use.
    WholeDisk(const QString& device, const Disk& listed);
    ~WholeDisk();
    WholeDisk(const WholeDisk&) = delete;
    WholeDisk& operator=(const WholeDisk&) = delete;

    const QString& device() const { return device_; }
    std::uint64_t bytes() const { return bytes_; }
    std::uint32_t sectorSize() const { return sector_; }
    // Writes or reads `size` bytes at `offset` (both whole sectors, `data`
    // aligned to 4 KiB), off the window's thread. Throws RunTimeError (57
    // for a device error) naming the offset.
    void write(const char* data, std::size_t size, std::uint64_t offset);
    void read(char* data, std::size_t size, std::uint64_t offset) const;
    // What was written reaches the device's stable storage.
    void flush();
    // Tells the device that the range holds nothing (BLKDISCARD): a thin or
    // virtual device gives the space back. False when it takes no discard.
    bool discard(std::uint64_t offset, std::uint64_t size);
    // Has the device make the range read as zeros itself (BLKZEROOUT).
    // Throws RunTimeError (57 for a device error) naming the offset.
    void zeroOut(std::uint64_t offset, std::uint64_t size);

    // For the device's own commands (platform/deviceerase.h).
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
    QString device_;
    std::uint64_t bytes_ = 0;
    std::uint32_t sector_ = 512;
};

} // namespace platform
