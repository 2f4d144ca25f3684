#include "records/wiperecord.h"
#include "platform/volumefacts.h"

#include <QLocale>
#include <array>
#include <cstdlib>

namespace records {

namespace {

struct Named {
    ProcessKind kind;
    const char* name;
};
// The names of the main window's process list, and of the whole-disk wipe.
constexpr std::array<Named, 5> kProcesses = {{
    {ProcessKind::EntireDrive, "Security Wipe Entire Drive"},
    {ProcessKind::Folder, "Security Wipe Select Folder"},
    {ProcessKind::Files, "Security Wipe File or Range of Files"},
    {ProcessKind::FreeSpace, "Security Wipe Free Space"},
    {ProcessKind::WholeDisk, "Wipe Whole Disk"},
}};

constexpr std::array<const char*, 4> kOutcomes = {"interrupted", "completed", "incomplete", "stopped"};
constexpr std::array<const char*, 3> kVerifications = {"not run", "passed", "failed"};

} // namespace

QString processName(ProcessKind kind)
{
    for (const Named& p : kProcesses)
        if (p.kind == kind)
            return QString::fromLatin1(p.name);
    return {};
}

std::optional<ProcessKind> processFromName(const QString& name)
{
    for (const Named& p : kProcesses)
        if (name == QLatin1String(p.name))
            return p.kind;
    return std::nullopt;
}

QString levelName(std::int16_t wipeLevel)
{
    return wipeLevel == 1 ? QStringLiteral("Complete Wipe") : QStringLiteral("Short Wipe");
}

QString outcomeName(Outcome outcome)
{
    return QString::fromLatin1(kOutcomes[static_cast<std::size_t>(outcome)]);
}

Outcome outcomeFromName(const QString& name)
{
    for (std::size_t i = 0; i < kOutcomes.size(); ++i)
        if (name == QLatin1String(kOutcomes[i]))
            return static_cast<Outcome>(i);
    return Outcome::Interrupted;
}

QString verificationName(platform::Verification v)
{
    return QString::fromLatin1(kVerifications[static_cast<std::size_t>(v)]);
}

platform::Verification verificationFromName(const QString& name)
{
    for (std::size_t i = 0; i < kVerifications.size(); ++i)
        if (name == QLatin1String(kVerifications[i]))
            return static_cast<platform::Verification>(i);
    return platform::Verification::NotRun;
}

WipeRecord newRecord(ProcessKind kind, const QString& level, int passesPlanned, const DriveFacts& drive)
{
    WipeRecord r;
    r.started = QDateTime::currentDateTime();
    r.process = kind;
    r.level = level;
    r.passesPlanned = passesPlanned;
    r.drive = drive;
    r.host = platform::hostName();
    r.user = platform::userName();
    r.version = QStringLiteral(ZARVEX_VERSION);
    return r;
}

DriveFacts driveFacts(const QString& letter, const QString& nativeFolder)
{
    const platform::VolumeFacts v = platform::volumeFacts(nativeFolder);
    return {letter.left(2).toUpper(), v.mountPoint, v.device, v.fileSystem, v.label, v.uuid, v.sizeBytes};
}

QString sizeText(std::uint64_t bytes)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const auto size = static_cast<double>(bytes);
    const struct {
        double unit;
        const char* name;
    } units[] = {{1024.0 * 1024 * 1024 * 1024, "TiB"}, {1024.0 * 1024 * 1024, "GiB"}, {1024.0 * 1024, "MiB"},
                 {1024.0, "KiB"}};
    const QString exact = english.toString(static_cast<qulonglong>(bytes));
    for (const auto& u : units)
        if (size >= u.unit)
            return QStringLiteral("%1 bytes (%2 %3)")
                .arg(exact, QString::number(size / u.unit, 'f', 2), QLatin1String(u.name));
    return QStringLiteral("%1 bytes").arg(exact);
}

QString localTimeText(const QDateTime& time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")) : QStringLiteral("-");
}

QString timeText(const QDateTime& time)
{
    if (!time.isValid())
        return QStringLiteral("-");
    const int offset = time.offsetFromUtc();
    auto twoDigits = [](int n) { return QString::number(n).rightJustified(2, u'0'); };
    return QStringLiteral("%1 %2%3:%4")
        .arg(time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
             offset < 0 ? QStringLiteral("-") : QStringLiteral("+"), twoDigits(std::abs(offset) / 3600),
             twoDigits(std::abs(offset) % 3600 / 60));
}

QString outcomeText(const WipeRecord& r)
{
    switch (r.outcome) {
    case Outcome::Completed:
        return QStringLiteral("Completed");
    case Outcome::Incomplete:
        return QStringLiteral("Ran to its end, but not everything was wiped");
    case Outcome::Stopped:
        return r.errorNumber ? QStringLiteral("Stopped: Error %1: %2").arg(QString::number(r.errorNumber), r.errorText)
                             : QStringLiteral("Stopped: %1").arg(r.errorText);
    case Outcome::Interrupted:
        break;
    }
    return QStringLiteral("Interrupted: the program ended before the wipe did");
}

QString verificationText(const WipeRecord& r)
{
    switch (r.verification) {
    case platform::Verification::Passed:
        return QStringLiteral("Passed: the last pass read back from the device as it was written");
    case platform::Verification::Failed:
        return QStringLiteral("Failed: %1").arg(r.verificationDetail);
    case platform::Verification::NotRun:
        break;
    }
    return QStringLiteral("Not run: the last pass was not reached");
}

} // namespace records
