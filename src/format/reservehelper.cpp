#include "format/reservehelper.h"

#include "platform/drivetable.h"
#include "platform/mounts.h"
#include "platform/reservedspace.h"

#include <QRegularExpression>

namespace format {

namespace {
// The reserve goes back after this at the latest, whatever the caller does:
// a Complete Wipe of a large slow disk takes hours, never days.
constexpr int kLongestReleaseMs = 24 * 60 * 60 * 1000;
} // namespace

std::optional<ReserveRequest> parseReserveArguments(const QStringList& arguments)
{
    ReserveRequest request;
    QStringList args = arguments;
    static const QRegularExpression driveRe(QStringLiteral("^[A-Za-z]:$"));
    if (!takeCallerSwitches(args, request.pinnedFolder, request.about) || args.size() != 1 ||
        !driveRe.match(args[0]).hasMatch())
        return std::nullopt;
    request.letter = args[0][0].toLower();
    return request;
}

HelperOutcome runReserveHelper(const QStringList& args)
{
    const auto request = parseReserveArguments(args);
    if (!request)
        return {ExitUsage, formatUsage()};
    const QString drive = QString(request->letter) + u':';
    auto refuse = [&](const QString& why) {
        return HelperOutcome{ExitRefused, QStringLiteral("%1 keeps its reserved space: %2").arg(drive, why)};
    };
    if (!platform::isSuperUser())
        return refuse(QStringLiteral("releasing it needs root privileges (run as root, or through pkexec)"));
    const auto folder = request->pinnedFolder.isEmpty()
                            ? platform::DriveTable::current().folderFor(request->letter)
                            : std::optional<QString>(request->pinnedFolder);
    if (!folder)
        return refuse(QStringLiteral("there is no drive with this letter"));
    const auto resolved = platform::canonicalFolder(*folder);
    if (!resolved)
        return refuse(QStringLiteral("%1 does not exist").arg(*folder));
    // Only a whole volume of its own, as for a format: the system's volume
    // keeps the reserve its administrator set for it.
    const std::vector<platform::MountEntry> mounts = platform::allMounts();
    const platform::MountEntry* volume = platform::visibleMountAt(mounts, *resolved);
    const platform::MountEntry* root = platform::visibleMountAt(mounts, QStringLiteral("/"));
    if (!volume)
        return refuse(QStringLiteral("%1 is not a mount point; only a whole mounted volume is wiped").arg(*resolved));
    if (*resolved == QStringLiteral("/") || (root && root->major == volume->major && root->minor == volume->minor))
        return refuse(QStringLiteral("it is the volume that holds the system (/)"));
    if (!request->about.isEmpty() && request->about != platform::volumeSummary(*volume))
        return refuse(QStringLiteral("the volume is no longer the one that was approved (%1)").arg(request->about));

    // The knob is found from the folder here, never named by the caller.
    const QString knob = platform::ReservedSpaceRelease::reserveKnob(*resolved);
    if (knob.isEmpty())
        return {ExitFormatted, {}}; // not ext4: nothing held back
    const auto old = platform::readReserve(knob);
    if (!old)
        return refuse(QStringLiteral("cannot read %1").arg(knob));
    if (*old == QStringLiteral("0"))
        return {ExitFormatted, {}};
    platform::holdTerminationSignals();
    if (!platform::writeReserve(knob, QStringLiteral("0")))
        return refuse(QStringLiteral("cannot write %1").arg(knob));

    platform::tellCaller("released " + old->toLatin1());
    platform::waitForCallerToFinish(kLongestReleaseMs);
    if (!platform::writeReserve(knob, *old))
        return {ExitRefused, QStringLiteral("%1 could not get its reserved space back: writing %2 to %3 failed")
                                 .arg(drive, *old, knob)};
    return {ExitFormatted, {}};
}

} // namespace format
