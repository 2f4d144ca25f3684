#include "app/entiredrive.h"
#include "drives/driveinfo.h"
#include "format/elapsed.h"
#include "format/filesystems.h"
#include "format/formatrunner.h"
#include "platform/prompter.h"
#include "records/recorder.h"

#include <map>

namespace app {

// The settings keep the format type as the file-system table's code.
static_assert(format::fileSystemRow(format::FileSystem::Fat).code == session::FormatFat &&
              format::fileSystemRow(format::FileSystem::Fat32).code == session::FormatFat32 &&
              format::fileSystemRow(format::FileSystem::Ntfs).code == session::FormatNtfs);

// The file system a No to the format question chooses instead.
static std::int16_t otherFormatType(int formatType)
{
    return static_cast<std::int16_t>(format::fileSystemOfCode(formatType).otherCode);
}

QString formatQuestion(int formatType)
{
    const format::FileSystemRow* fs = format::findFileSystemOfCode(formatType);
    if (!fs || *fs->forWindows == '\0')
        return {};
    const format::FileSystemRow& other = format::fileSystemOfCode(fs->otherCode);
    return platform::joinLines(
        {QStringLiteral("Press YES to continue with Formatting the drive in %1 Format").arg(QLatin1String(fs->name)),
         QLatin1String(fs->forWindows), QString(),
         QStringLiteral("Press NO to change the Format to %1").arg(QLatin1String(other.name)),
         QLatin1String(other.forWindows)});
}

bool forceFatForRemovable(std::int16_t driveCategory, std::int16_t& formatType)
{
    if (driveCategory != drives::CategoryRemovable || formatType == session::FormatFat)
        return false;
    formatType = session::FormatFat;
    return true;
}

QString removableFatMessage()
{
    return platform::joinLines({QStringLiteral("Removable discs can only be formatted in FAT format."), QString(),
                                QStringLiteral("The FORMAT has been automatically Changed")});
}

// What a failed format means for the drive, said so that no one takes a
// changed drive for an untouched one: %1 the drive, %2 its folder.
static QString formatFailureText(const format::FormatResult& result, bool firstFormat)
{
    using format::FormatEnd;
    static const std::map<FormatEnd, const char*> firstFormatTexts = {
        {FormatEnd::Untouched, "The format of drive %1 failed, so the drive was not wiped."},
        {FormatEnd::LeftUnmounted,
         "The format of drive %1 failed before it changed anything, but the drive could not be mounted again: it is "
         "not mounted at %2 now."},
        {FormatEnd::ChangedUnmounted,
         "The format of drive %1 changed the drive but did not finish: it is not mounted at %2 now, and it was not "
         "filled with wipe data, so its old data may still be on it."},
        {FormatEnd::Unknown,
         "The format of drive %1 did not finish: the drive may have been changed and may not be mounted at %2 now."},
    };
    if (firstFormat)
        return QString::fromUtf8(firstFormatTexts.at(result.end));
    if (result.end == FormatEnd::Untouched)
        return QStringLiteral("The data area of drive %1 was overwritten, but the final format failed.");
    return QStringLiteral("The data area of drive %1 was overwritten, but the final format failed. It is not mounted "
                          "at %2 now.");
}

static QString formatFailureMessage(const format::FormatResult& result, bool firstFormat, const QString& drive,
                                    const QString& folder)
{
    // Not every text names the folder, so no arg(): it would warn of a missing %2.
    const QString what =
        formatFailureText(result, firstFormat).replace(QLatin1String("%1"), drive).replace(QLatin1String("%2"), folder);
    return QStringLiteral("%1\r\n\r\n%2").arg(what, result.reason);
}

namespace {

// The drive a wipe acts on, fixed when it starts: both formats act on the
// folder the letter names now, not on whatever it may name by the second.
struct Target {
    QString letter; // "t:"
    QString upper;  // "T:"
    QString folder;
};

Target fixTarget(const EntireDriveContext& ctx)
{
    const QString letter = ctx.settings.SelectedDrive.left(2);
    return {letter, letter.toUpper(), ctx.services.drives->nativePath(letter)};
}

// A CD drive, a drive that is still not ready, and the boot drive (for a
// fixed drive) are refused before anything is written; the CD drive's
// message was shown when Wipe was pressed.
bool refusedDrive(EntireDriveContext& ctx, const Target& target)
{
    platform::Prompter& prompter = *ctx.services.prompter;
    if (ctx.fill.DriveCategory == drives::CategoryCd)
        return true;
    if (!ctx.services.drives->isReady(target.letter)) {
        prompter.message(QStringLiteral("Drive %1 is not ready, so it was not wiped.").arg(target.upper));
        return true;
    }
    if (ctx.fill.DriveCategory == drives::CategoryFixed &&
        ctx.view.selectedDriveEntry().left(2).toUpper() == ctx.settings.SystemRootPath.left(2).toUpper()) {
        prompter.message(kBootDriveRefusal);
        return true;
    }
    return false;
}

// Nothing is formatted before the user has said Yes to the drive by name;
// then the file system is confirmed, switched between NTFS and FAT32, or it
// is all called off (false).
bool agreedToWipe(EntireDriveContext& ctx, const Target& target)
{
    session::ProcessSettings& s = ctx.settings;
    platform::Prompter& prompter = *ctx.services.prompter;
    const QString question = formatQuestion(s.FormatType);
    const bool agreed =
        prompter.confirm(QStringLiteral("Wipe the entire drive %1 [%2]: format it, fill it with wipe data %3 "
                                        "times and format it again? Everything on it is destroyed.")
                             .arg(target.upper, target.folder, QString::number(engine::driveFillPasses(s.WipeLevel))));
    const platform::Answer format = !agreed             ? platform::Answer::Cancel
                                    : question.isEmpty() ? platform::Answer::Yes
                                                         : prompter.askYesNoCancel(question);
    if (format == platform::Answer::Cancel)
        return false;
    if (format == platform::Answer::No) {
        s.FormatType = otherFormatType(s.FormatType);
        ctx.view.showFormatType(s.FormatType);
    }
    return true;
}

void endRecord(records::Recorder& record, records::Outcome outcome, const QString& why = {})
{
    if (!why.isEmpty())
        record.setError(0, why);
    record.complete(outcome);
}

// A Short Wipe starts its process time here and cannot be ended from the
// window once it is prepared.
void prepareWipe(EntireDriveContext& ctx, const Target& target)
{
    session::ProcessSettings& s = ctx.settings;
    if (s.WipeLevel == session::CompleteWipe) {
        ctx.view.setStatus(QStringLiteral("%1\\   Preparing for Complete Disc Wipe").arg(target.upper));
        return;
    }
    ctx.view.setStatus(QStringLiteral("%1\\   Preparing for Short Disc Short").arg(target.upper));
    s.WipeStartTime = ctx.services.clock->now();
    s.WipeNowTime = s.WipeStartTime;
    ctx.view.setProcessTime(format::ElapsedText(s.WipeStartTime, s.WipeNowTime));
    ctx.view.lockForShortWipe();
}

format::FormatResult formatTarget(EntireDriveContext& ctx, const Target& target)
{
    session::ProcessSettings& s = ctx.settings;
    return format::FormatDrive(target.letter, s.FormatType, ctx.view, *ctx.services.clock, s.WipeStartTime,
                               s.WipeNowTime, target.folder);
}

// Fills the empty file system; the window stays locked after the fill
// gave it back, since the wipe is not over yet.
engine::FillOutcome fillDrive(EntireDriveContext& ctx, records::Recorder& record)
{
    session::ProcessSettings& s = ctx.settings;
    EntireDriveView& view = ctx.view;
    view.setStatus(s.WipeLevel == session::CompleteWipe ? QStringLiteral("Performing Complete Drive Wipe")
                                               : QStringLiteral("Performing Short Drive Wipe"));
    view.setDetail(QStringLiteral("Drive   %1").arg(s.SelectedDrive));
    engine::FillProcedure fill(ctx.fill, view, ctx.services);
    fill.setOwnVolumeRequired(true);
    fill.setRecord(&record);
    if (ctx.fillTarget)
        fill.setTargetFactory(ctx.fillTarget);
    const engine::FillOutcome filled = fill.run(engine::driveFillPasses(s.WipeLevel));
    view.setStatus(QStringLiteral("Finalizing Drive Wipe"));
    view.setProcessControlsEnabled(false);
    view.lockChoices();
    return filled;
}

// The completion texts (the fill has said why it would not be safe), then
// the reset.
DriveWipeResult showCompletion(EntireDriveContext& ctx, const engine::FillOutcome& filled, records::Recorder& record)
{
    session::ProcessSettings& s = ctx.settings;
    EntireDriveView& view = ctx.view;
    const bool verified = filled.verification != platform::Verification::Failed;
    view.setStatus(kDriveWipeComplete);
    view.setDetail(verified ? kSafeToDispose : QStringLiteral("The last fill pass did not read back as written"));
    view.setPercent(QStringLiteral("DONE"));
    view.resetAfterDriveWipe();
    s.WipeNowTime = ctx.services.clock->now();
    view.setProcessTime(format::ElapsedText(s.WipeStartTime, s.WipeNowTime));
    endRecord(record, records::Outcome::Completed);
    return verified ? DriveWipeResult::Completed : DriveWipeResult::NotVerified;
}

// Format, fill, format again. A failed format stops everything: no fill
// after the first, and a half-filled drive is not formatted over as if all
// were well (the fill has said why it stopped).
DriveWipeResult formatFillFormat(EntireDriveContext& ctx, const Target& target, records::Recorder& record)
{
    EntireDriveView& view = ctx.view;
    platform::Prompter& prompter = *ctx.services.prompter;
    const format::FormatResult first = formatTarget(ctx, target);
    if (!first.ok) {
        view.resetAfterDriveWipe();
        const QString why = formatFailureMessage(first, true, target.upper, target.folder);
        prompter.message(why);
        endRecord(record, records::Outcome::Stopped, why);
        return DriveWipeResult::FormatFailed;
    }
    const engine::FillOutcome filled = fillDrive(ctx, record);
    if (!filled.completed || filled.spaceMissed) {
        view.resetAfterDriveWipe();
        view.setStatus(QStringLiteral("Drive Wipe did not complete"));
        endRecord(record, filled.completed ? records::Outcome::Incomplete : records::Outcome::Stopped);
        return DriveWipeResult::FillStopped;
    }
    // The target drive is formatted, whatever the list shows now.
    const format::FormatResult second = formatTarget(ctx, target);
    if (!second.ok) {
        view.resetAfterDriveWipe();
        view.setStatus(QStringLiteral("Drive Wipe did not complete"));
        const QString why = formatFailureMessage(second, false, target.upper, target.folder);
        prompter.message(why);
        endRecord(record, records::Outcome::Stopped, why);
        return DriveWipeResult::FinalFormatFailed;
    }
    return showCompletion(ctx, filled, record);
}

} // namespace

DriveWipeResult runEntireDriveWipe(EntireDriveContext& ctx)
{
    session::ProcessSettings& s = ctx.settings;
    EntireDriveView& view = ctx.view;
    view.lockChoices();
    ctx.ProcessRunning = 1;
    const Target target = fixTarget(ctx);
    if (refusedDrive(ctx, target)) {
        view.unlockAfterRefusal();
        return DriveWipeResult::Refused;
    }
    if (!ctx.unattended && !agreedToWipe(ctx, target)) {
        view.setStatus(QStringLiteral("Nothing was formatted"));
        view.unlockAfterRefusal();
        return DriveWipeResult::Declined;
    }
    view.announceWipe();
    // From here the drive is written to: the wipe keeps a record.
    records::Recorder record(records::newRecord(records::ProcessKind::EntireDrive, records::levelName(s.WipeLevel),
                                                engine::driveFillPasses(s.WipeLevel),
                                                records::driveFacts(target.letter, target.folder)),
                             *ctx.services.prompter);
    prepareWipe(ctx, target);
    return formatFillFormat(ctx, target, record);
}

} // namespace app
