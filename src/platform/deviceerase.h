#pragma once
// A disk's own erase commands. An NVMe drive can erase itself: Sanitize
// (block erase, or crypto erase: its key thrown away) reaches every block,
// its spare area included, which no write from the host can; Format NVM
// with Secure Erase does so for the namespace's user data. What the drive
// offers is read from its Identify data before anything is asked.
#include "platform/disks.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace platform {

class WholeDisk;

enum class DeviceErase { NvmeSanitizeCrypto, NvmeSanitizeBlock, NvmeFormatCrypto, NvmeFormatUserData };

struct EraseFacts {
    QList<DeviceErase> offered; // what the device offers, the strongest first
    int erasedReads = -1;       // the byte an erased block reads as (0x00 or 0xFF); -1: the device does not say
    QString none;               // why nothing is offered
    QStringList alsoReached;    // other namespaces of the controller the erase reaches too
};

// What the disk offers, read with a descriptor of its own (no write).
EraseFacts eraseFactsOf(const Disk& disk);
// "NVMe Sanitize (block erase)".
QString eraseName(DeviceErase erase);
// Runs the erase on the opened disk, off the window's thread, and waits for
// the device to finish; `progress` (0 to 1) is told as the device reports
// it. Throws RunTimeError (57, with the device's status) when the device
// refuses or fails it.
void runDeviceErase(WholeDisk& disk, DeviceErase erase, const std::function<void(double)>& progress);

} // namespace platform
