#include "platform/hiddenareas.h"
#include "platform/fd.h"

#include <array>
#include <cstring>
#include <scsi/sg.h>
#include <sys/ioctl.h>

namespace platform {

namespace {

constexpr std::uint8_t kAtaPassThrough16 = 0x85;
constexpr std::uint8_t kIdentifyDevice = 0xEC, kReadNativeMaxExt = 0x27, kDeviceConfiguration = 0xB1;
constexpr std::uint8_t kDcoIdentify = 0xC2;
constexpr int kPioIn = 4, kNonData = 3; // ATA protocols

// One ATA command through the SCSI-ATA translation. `data`: 512 bytes read
// in, or none; `registers`: the sense data with the ATA return descriptor.
bool ataCommand(int fd, int protocol, std::uint8_t command, std::uint8_t feature, std::uint8_t* data,
                std::array<std::uint8_t, 32>& sense)
{
    std::array<std::uint8_t, 16> cdb {};
    cdb[0] = kAtaPassThrough16;
    cdb[1] = std::uint8_t(protocol << 1 | 1); // 48-bit registers
    // Data in, by blocks counted in the sector count; or, without data,
    // the registers back (CK_COND).
    cdb[2] = data ? 0x0E : 0x20;
    cdb[4] = feature;
    cdb[6] = data ? 1 : 0;
    cdb[13] = 0x40; // LBA addressing
    cdb[14] = command;
    sg_io_hdr_t io {};
    io.interface_id = 'S';
    io.cmdp = cdb.data();
    io.cmd_len = cdb.size();
    io.dxfer_direction = data ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.dxferp = data;
    io.dxfer_len = data ? 512 : 0;
    io.sbp = sense.data();
    io.mx_sb_len = sense.size();
    io.timeout = 10000;
    if (::ioctl(fd, SG_IO, &io) != 0)
        return false;
    // A command that asked for its registers back ends with CHECK CONDITION (status 2)
    // and them in the sense data; any other check condition is a refusal.
    const bool registersBack = !data && (io.status & 0x7E) == 0x02 && sense[0] == 0x72 && sense[8] == 0x09;
    return registersBack || (io.status == 0 && io.host_status == 0 && io.driver_status == 0);
}

std::uint16_t word(const std::array<std::uint8_t, 512>& id, int n)
{
    return std::uint16_t(id[2 * n] | id[2 * n + 1] << 8);
}

std::uint64_t words64(const std::array<std::uint8_t, 512>& id, int first)
{
    std::uint64_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 16 | word(id, first + i);
    return v;
}

} // namespace

std::uint64_t HiddenAreas::hiddenSectors() const
{
    const std::uint64_t end = std::max(nativeSectors.value_or(0), overlaySectors.value_or(0));
    return end > visibleSectors ? end - visibleSectors : 0;
}

HiddenAreas hiddenAreasOf(const Disk& disk)
{
    HiddenAreas a;
    if (disk.transport != QStringLiteral("SATA") && disk.transport != QStringLiteral("USB")) {
        a.notLooked = QStringLiteral("a %1 drive has no host protected area").arg(disk.transport);
        return a;
    }
    const Fd fd(disk.device, O_RDONLY | O_NONBLOCK);
    std::array<std::uint8_t, 512> id {};
    std::array<std::uint8_t, 32> sense {};
    if (fd.fd < 0 || !ataCommand(fd.fd, kPioIn, kIdentifyDevice, 0, id.data(), sense)) {
        a.notLooked = QStringLiteral("the drive did not answer ATA IDENTIFY DEVICE (a USB bridge may not pass it on)");
        return a;
    }
    a.looked = true;
    const bool lba48 = word(id, 83) & (1 << 10);
    a.visibleSectors = lba48 ? words64(id, 100) : (std::uint64_t(word(id, 61)) << 16 | word(id, 60));
    if (lba48 && (word(id, 82) & (1 << 10)) && ataCommand(fd.fd, kNonData, kReadNativeMaxExt, 0, nullptr, sense)) {
        const std::uint8_t* r = sense.data() + 8; // the ATA status return descriptor
        const std::uint64_t last = std::uint64_t(r[10]) << 40 | std::uint64_t(r[8]) << 32 | std::uint64_t(r[6]) << 24 |
                                   std::uint64_t(r[11]) << 16 | std::uint64_t(r[9]) << 8 | r[7];
        a.nativeSectors = last + 1;
    }
    std::array<std::uint8_t, 512> dco {};
    if ((word(id, 83) & (1 << 11)) && ataCommand(fd.fd, kPioIn, kDeviceConfiguration, kDcoIdentify, dco.data(), sense))
        a.overlaySectors = words64(dco, 3) + 1;
    return a;
}

QString hiddenAreasText(const HiddenAreas& a)
{
    if (!a.looked)
        return QStringLiteral("Hidden areas were not looked for: %1.").arg(a.notLooked);
    const QString hpa = a.nativeSectors ? QStringLiteral("its native end is sector %1").arg(*a.nativeSectors)
                                        : QStringLiteral("it does not say its native end (no host protected area feature)");
    const QString dco = a.overlaySectors ? QStringLiteral("its factory end is sector %1").arg(*a.overlaySectors)
                                         : QStringLiteral("it shows no device configuration overlay");
    if (a.hiddenSectors() == 0)
        return QStringLiteral("No hidden area: the host sees %1 sectors; %2; %3.").arg(a.visibleSectors).arg(hpa, dco);
    return QStringLiteral("The drive hides %1 sectors from the host (it shows %2; %3; %4): they are not wiped, and "
                          "the hidden area is left as it is.")
        .arg(a.hiddenSectors())
        .arg(a.visibleSectors)
        .arg(hpa, dco);
}

} // namespace platform
