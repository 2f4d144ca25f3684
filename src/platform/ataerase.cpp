#include "platform/ataerase.h"
#include "platform/blocking.h"
#include "platform/errors.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

constexpr std::uint8_t kSetPassword = 0xF1, kUnlock = 0xF2, kErasePrepare = 0xF3, kEraseUnit = 0xF4,
                       kDisablePassword = 0xF6;
// The password the wipe sets for its erase: said to the user should the
// drive ever keep it.
constexpr char kPassword[] = "ZarvexWipe";

// Word 128, the security status, bit by bit: each state in which the
// erase cannot run, and why.
struct SecurityState {
    int bit;
    const char* why;
};
constexpr SecurityState kRefusingStates[] = {
    {1, "a security password is already set on it, and the erase would need it"},
    {2, "it is locked by a security password"},
    {3, "its security is frozen (the computer's firmware freezes it at start: a suspend and resume of the "
        "computer, or plugging the drive in after the start, unfreezes it)"},
    {4, "it has refused too many wrong passwords since it was switched on"},
};

// Minutes from an erase-time word: two-minute units, in 15 bits where bit
// 15 says so, else in 8.
unsigned minutesOf(std::uint16_t word)
{
    return 2 * ((word & 0x8000) ? word & 0x7FFF : word & 0xFF);
}

// The data block of the security commands: the user password, and for the
// erase its mode.
AtaBlock passwordBlock(bool enhanced = false)
{
    AtaBlock block {};
    block[0] = enhanced ? 0x02 : 0x00; // bit 0: user password; bit 1: enhanced erase
    std::memcpy(block.data() + 2, kPassword, sizeof kPassword - 1);
    return block;
}

// Takes the wipe's password off (unlocking the drive first if a failed
// erase left it locked); true when IDENTIFY then shows none set.
bool passwordTakenOff(int fd)
{
    AtaBlock id {};
    if (!ataIdentify(fd, id))
        return false;
    if (!(ataWord(id, 128) & 0x2))
        return true;
    AtaBlock password = passwordBlock();
    if (ataWord(id, 128) & 0x4)
        ataCommand(fd, {kUnlock, 0, AtaData::Out, &password});
    password = passwordBlock();
    ataCommand(fd, {kDisablePassword, 0, AtaData::Out, &password});
    return ataIdentify(fd, id) && !(ataWord(id, 128) & 0x2);
}

} // namespace

AtaSecurity ataSecurityOf(const AtaBlock& id)
{
    AtaSecurity s;
    const std::uint16_t status = ataWord(id, 128);
    if (!(ataWord(id, 82) & 0x2) || !(status & 0x1)) {
        s.none = QStringLiteral("it has no ATA security feature set (no SECURITY ERASE UNIT)");
        return s;
    }
    for (const SecurityState& state : kRefusingStates)
        if (status & (1 << state.bit)) {
            s.none = QLatin1String(state.why);
            return s;
        }
    s.normal = true;
    s.enhanced = status & 0x20;
    s.normalMinutes = minutesOf(ataWord(id, 89));
    s.enhancedMinutes = minutesOf(ataWord(id, 90));
    return s;
}

void runAtaSecurityErase(int fd, const QString& device, bool enhanced)
{
    AtaBlock id {};
    const AtaSecurity security = ataIdentify(fd, id) ? ataSecurityOf(id) : AtaSecurity{};
    if (!security.normal || (enhanced && !security.enhanced))
        throw RunTimeError(ErrDeviceIO, QStringLiteral("%1: the drive no longer offers SECURITY ERASE UNIT: %2")
                                            .arg(device, security.none.isEmpty() ? QStringLiteral("it did not answer IDENTIFY DEVICE") : security.none));
    const unsigned minutes = enhanced ? security.enhancedMinutes : security.normalMinutes;
    AtaBlock password = passwordBlock();
    if (!ataCommand(fd, {kSetPassword, 0, AtaData::Out, &password})) {
        passwordTakenOff(fd); // in case the drive set it and only its answer was lost
        throw RunTimeError(ErrDeviceIO, QStringLiteral("%1: the drive refused SECURITY SET PASSWORD; nothing was erased").arg(device));
    }
    // The drive's estimate and half as much again; twelve hours where it gives none.
    const unsigned timeoutMs = std::min<unsigned>(minutes > 0 ? minutes * 90'000u : 12u * 3600'000u, 48u * 3600'000u);
    const char* failed = nullptr;
    AtaBlock erase = passwordBlock(enhanced);
    if (!ataCommand(fd, {kErasePrepare}))
        failed = "SECURITY ERASE PREPARE";
    else if (!runBlocking([&] { return ataCommand(fd, {kEraseUnit, 0, AtaData::Out, &erase, timeoutMs}); }))
        failed = "SECURITY ERASE UNIT";
    const bool off = passwordTakenOff(fd);
    const QString passwordState = off ? QStringLiteral("its security password is off again")
                                  : QStringLiteral("ITS SECURITY PASSWORD COULD NOT BE TAKEN OFF: it is \"%1\" (hdparm "
                                                   "--security-disable %1 takes it off)")
                                        .arg(QLatin1String(kPassword));
    if (failed)
        throw RunTimeError(ErrDeviceIO, QStringLiteral("%1: the drive failed %2; %3").arg(device, QLatin1String(failed), passwordState));
    if (!off)
        throw RunTimeError(ErrDeviceIO, QStringLiteral("%1: the drive erased itself, but %2").arg(device, passwordState));
}

} // namespace platform
