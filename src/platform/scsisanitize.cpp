#include "platform/scsisanitize.h"
#include "platform/blocking.h"
#include "platform/errors.h"
#include "platform/scsicommand.h"

#include <array>
#include <optional>

namespace platform {

namespace {

constexpr std::uint8_t kSanitize = 0x48, kMaintenanceIn = 0xA3, kReportOpcodes = 0x0C;
constexpr std::uint8_t kAllowExitAfterFailure = 0x20; // AUSE: a failed sanitize does not hold the drive
constexpr unsigned kSanitizeTimeoutMs = 24u * 3600 * 1000; // a large drive's overwrite takes hours

// Whether the drive says it takes SANITIZE with this service action: the
// one-command form of REPORT SUPPORTED OPERATION CODES. nullopt: it does
// not answer the question at all.
std::optional<bool> takes(int fd, ScsiSanitizeAction action)
{
    const std::array<std::uint8_t, 12> cdb{kMaintenanceIn, kReportOpcodes, 0x02, kSanitize, 0, std::uint8_t(action),
                                           0, 0, 0, 64, 0, 0};
    std::array<std::uint8_t, 64> answer {};
    const ScsiResult r = scsiCommand(fd, cdb, ScsiData::In, answer.data(), answer.size(), 10000);
    if (!r.good())
        return std::nullopt;
    const int support = answer[1] & 0x7;
    return support == 3 || support == 5; // as the standard says, or as the maker does
}

QString senseText(const ScsiResult& r)
{
    if (!r.sent)
        return QStringLiteral("the drive did not answer");
    return QStringLiteral("status 0x%1, sense key 0x%2, additional sense code 0x%3")
        .arg(r.status, 2, 16, QChar(u'0'))
        .arg(r.senseKey(), 1, 16)
        .arg(r.asc(), 2, 16, QChar(u'0'));
}

} // namespace

ScsiSanitize scsiSanitizeOf(int fd)
{
    ScsiSanitize s;
    const std::optional<bool> overwrite = takes(fd, ScsiSanitizeAction::Overwrite);
    if (!overwrite) {
        s.none = QStringLiteral("it does not say which commands it takes (REPORT SUPPORTED OPERATION CODES)");
        return s;
    }
    s.overwrite = *overwrite;
    s.blockErase = takes(fd, ScsiSanitizeAction::BlockErase).value_or(false);
    s.cryptoErase = takes(fd, ScsiSanitizeAction::CryptoErase).value_or(false);
    if (!s.overwrite && !s.blockErase && !s.cryptoErase)
        s.none = QStringLiteral("it takes no SANITIZE");
    return s;
}

void runScsiSanitize(int fd, const QString& device, ScsiSanitizeAction action)
{
    // The overwrite's parameters: one pass (no inversion) of a four-byte
    // pattern of zeros.
    const std::array<std::uint8_t, 8> overwrite{0x01, 0, 0, 4, 0, 0, 0, 0};
    const bool writes = action == ScsiSanitizeAction::Overwrite;
    const std::array<std::uint8_t, 10> cdb{kSanitize, std::uint8_t(std::uint8_t(action) | kAllowExitAfterFailure), 0, 0, 0, 0, 0,
                                           0, std::uint8_t(writes ? overwrite.size() : 0), 0};
    const ScsiResult r = runBlocking([&] {
        return scsiCommand(fd, cdb, writes ? ScsiData::Out : ScsiData::None,
                           writes ? const_cast<std::uint8_t*>(overwrite.data()) : nullptr,
                           writes ? unsigned(overwrite.size()) : 0, kSanitizeTimeoutMs);
    });
    if (!r.good())
        throw RunTimeError(ErrDeviceIO, QStringLiteral("%1: the drive refused or failed SANITIZE: %2").arg(device, senseText(r)));
}

} // namespace platform
