#pragma once
// A disk's own erase commands, which reach what no write from the host can:
// the blocks a drive set aside, its spare area. An NVMe drive's Sanitize
// (block or crypto erase) and Format NVM with Secure Erase; an ATA drive's
// SECURITY ERASE UNIT; a SCSI drive's SANITIZE; and the kernel's secure
// discard (BLKSECDISCARD, which eMMC and some flash take). What the disk
// offers is asked before anything is asked of the user.
#include "platform/disks.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace platform {

class WholeDisk;

// The strongest first.
enum class DeviceErase {
    NvmeSanitizeCrypto,
    NvmeSanitizeBlock,
    NvmeFormatCrypto,
    NvmeFormatUserData,
    ScsiSanitizeCrypto,
    ScsiSanitizeBlock,
    AtaSecurityEraseEnhanced,
    ScsiSanitizeOverwrite,
    AtaSecurityErase,
    SecureDiscard,
};

struct EraseFacts {
    QList<DeviceErase> offered;        // every erase the disk offers, the strongest first
    std::optional<DeviceErase> chosen; // the strongest of them whose result can be read back
    int erasedReads = -1;              // the byte the chosen erase leaves (0x00 or 0xFF)
    QStringList none;                  // why each other kind of erase is not offered
    QStringList alsoReached;           // other namespaces of the controller the erase reaches too
};

// What the disk offers. Nothing is written: the drive's identity data is
// read, and the kernel is asked with a secure discard of no sectors (for
// which the disk is held exclusively a moment, so a disk in use is not
// asked).
EraseFacts eraseFactsOf(const Disk& disk);
// "NVMe Sanitize (block erase)".
QString eraseName(DeviceErase erase);
// What the media-sanitization guideline (NIST SP 800-88) calls it: "Purge"
// for a drive's own erase, "Clear" for a secure discard, whose reach the
// kernel does not say.
QString eraseGuideline(DeviceErase erase);
// Runs the erase on the opened disk, off the window's thread, and waits for
// the device to finish; `progress` (0 to 1) is told as the device reports
// it. Throws RunTimeError (57, with the device's status) when the device
// refuses or fails it.
void runDeviceErase(WholeDisk& disk, DeviceErase erase, const std::function<void(double)>& progress);

} // namespace platform
