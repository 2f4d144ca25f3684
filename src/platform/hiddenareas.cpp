#include "platform/hiddenareas.h"
#include "platform/scsicommand.h"
#include "platform/fd.h"

#include <algorithm>

namespace platform {

namespace {

constexpr std::uint8_t kReadNativeMaxExt = 0x27, kDeviceConfiguration = 0xB1;
constexpr std::uint8_t kDcoIdentify = 0xC2;

} // namespace

std::uint64_t HiddenAreas::hiddenSectors() const
{
    const std::uint64_t end = std::max(nativeSectors.value_or(0), overlaySectors.value_or(0));
    return end > visibleSectors ? end - visibleSectors : 0;
}

HiddenAreas hiddenAreasOf(const Disk& disk)
{
    HiddenAreas a;
    if (!speaksAta(disk)) {
        a.notLooked = QStringLiteral("a %1 drive has no host protected area").arg(disk.transport);
        return a;
    }
    const Fd fd(disk.device, O_RDONLY | O_NONBLOCK);
    AtaBlock id {};
    if (fd.fd < 0 || !ataIdentify(fd.fd, id)) {
        a.notLooked = QStringLiteral("the drive %1").arg(QLatin1String(kNoIdentifyAnswer));
        return a;
    }
    a.looked = true;
    const bool lba48 = ataWord(id, 83) & (1 << 10);
    a.visibleSectors = lba48 ? ataWords64(id, 100) : (std::uint64_t(ataWord(id, 61)) << 16 | ataWord(id, 60));
    AtaRegisters native;
    if (lba48 && (ataWord(id, 82) & (1 << 10)) && ataCommand(fd.fd, {kReadNativeMaxExt}, &native))
        a.nativeSectors = native.lba + 1;
    AtaBlock dco {};
    if ((ataWord(id, 83) & (1 << 11)) && ataCommand(fd.fd, {kDeviceConfiguration, kDcoIdentify, AtaData::In, &dco}))
        a.overlaySectors = ataWords64(dco, 3) + 1;
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
