#pragma once
// Sectors an ATA drive hides from the host: a host protected area (HPA)
// ends the drive where the host sees it before its native last sector, and
// a device configuration overlay (DCO) can hide more. Neither is reached by
// any write from the host, so a wipe says what it found; it never changes
// either. Read through the SCSI-ATA translation (SG_IO, ATA PASS-THROUGH):
// IDENTIFY DEVICE, READ NATIVE MAX ADDRESS EXT and DEVICE CONFIGURATION
// IDENTIFY, none of which writes.
#include "platform/disks.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace platform {

struct HiddenAreas {
    bool looked = false;            // an ATA drive answered IDENTIFY
    QString notLooked;              // why not (not ATA, no answer)
    std::uint64_t visibleSectors = 0; // what the host sees now
    std::optional<std::uint64_t> nativeSectors; // HPA: the drive's own end, where it says it
    std::optional<std::uint64_t> overlaySectors; // DCO: the factory end, where it says it
    std::uint64_t hiddenSectors() const;
};

HiddenAreas hiddenAreasOf(const Disk& disk);
// "No host protected area or device configuration overlay: ..." or what is
// hidden, for the question, the console and the record.
QString hiddenAreasText(const HiddenAreas& areas);

} // namespace platform
