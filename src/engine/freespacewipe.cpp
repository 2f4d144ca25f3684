// How a free-space wipe works, and why.
//
// Deleting a file frees its blocks; their contents stay until something new
// is written there. A file system gives no way to write to free blocks as
// such, so the wipe makes files (tmptxt1.txt, tmptxt2.txt, ... at the top of
// the drive) and writes generated data into them until the drive refuses
// another byte: by then every free block holds the pass's pattern. The files
// are flushed, the last pass's ones read back from the device, and deleted;
// the next pass does it again with the next pattern. Files grow in stages
// (large writes while much is free, then smaller ones) so that the last
// clusters are taken too, and a record fill takes what a data fill cannot
// reach (NTFS's and btrfs's records of small files and names). The space a
// file system keeps in reserve is released for the fill and put back, a
// journal of the fill files lets the next start delete them if the program
// is killed, and after the last pass the device is told the space is free
// (trim) and the ext4 journal, which keeps copies of deleted names, is
// written over. Every step that reached less than the whole is said and
// recorded: the wipe is never called complete for space it did not write.
#include "engine/freespacewipe.h"
#include "platform/journalchurn.h"
#include "platform/fillfile.h"
#include "platform/volumelock.h"
#include "drives/driveinfo.h"
#include "engine/filldata.h"
#include "engine/mixedfill.h"
#include "engine/recordfill.h"
#include "format/elapsed.h"
#include "platform/blocking.h"
#include "platform/driveservices.h"
#include "platform/errors.h"
#include "platform/mounts.h"
#include "platform/reservedspace.h"
#include "platform/shutdown.h"

#include <QScopeGuard>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <vector>

namespace engine {

namespace {

constexpr int kLargeStageKB = 800;
constexpr int kMediumStageKB = 50;
constexpr int kMediumEndKB = 26;
constexpr int kSmallEndKB = 2;
// A pass that ends with more than this still free did not reach it all.
constexpr double kUnreachedKB = 4096;
// Write errors of the device itself that a pass goes on after (in a new
// fill file) before it stops.
constexpr int kIoErrorsPerPass = 3;
// A file system that compresses or deduplicates the repeated fill never
// fills; a pass stops this far beyond the free space it started with.
constexpr std::uint64_t kOverrunBytes = 64ull << 20;

const QString kVerifyingWipe = QStringLiteral("Verifying Free Space Wipe");

QByteArray record(const QByteArray& block)
{
    return block + QByteArrayLiteral("\r\n");
}

} // namespace

// The disk, with the file system's reserve released while the fill runs.
class ReleasedDiskTarget : public DiskFillTarget {
public:
    ReleasedDiskTarget(platform::DriveServices& drives, const QString& drive)
        : DiskFillTarget(drives, drive),
          release_(drive.left(2), folder(),
                   [this](const QString& knob, const QString& old) {
                       journal().settingChanging(knob, old);
                       knob_ = knob;
                   }),
          guard_([this] { restore(); })
    {
    }
    ~ReleasedDiskTarget() override { restore(); }
    bool outOfReach() const { return release_.outOfReach(); }
    const QString& releaseFailure() const { return release_.failure(); }
    // Puts the reserve back; what went wrong, or empty. The journal keeps
    // the setting until it reads back as it was, so that the next start
    // puts it back.
    QString putBack()
    {
        const QString knob = knob_;
        return restore() ? QString()
                         : QStringLiteral("The space the file system of this drive keeps in reserve could not be "
                                          "put back (%1). The program puts it back when it next starts as root.")
                               .arg(knob);
    }

private:
    bool restore()
    {
        const bool back = release_.restore();
        if (back && !knob_.isEmpty())
            journal().settingRestored(knob_);
        knob_.clear();
        return back;
    }
    QString knob_;
    platform::ReservedSpaceRelease release_;
    platform::EndOfProgramGuard guard_;
};

int freeSpacePasses(std::int16_t wipeLevel)
{
    return wipeLevel == 1 ? 12 : 6;
}

int driveFillPasses(std::int16_t wipeLevel)
{
    return wipeLevel == 1 ? 10 : 5;
}

QString freeSpaceWipeText(const platform::Services& services, const QString& driveEntry, std::int16_t wipeLevel)
{
    const QString letter = driveEntry.left(2);
    const QString size =
        QLocale::c().formattedDataSize(static_cast<qint64>(services.drives->freeBytes(letter)), 1,
                                       QLocale::DataSizeSIFormat);
    return QStringLiteral("the free space of %1 [%2] (%3 free), %4 passes")
        .arg(letter.toUpper(), services.drives->nativePath(letter), size,
             QString::number(engine::freeSpacePasses(wipeLevel)));
}

QString trimmedMessage(const QString& drive)
{
    return QStringLiteral("The free space of Drive %1 was also trimmed: the drive was told that it is free, so a "
                          "flash drive or thin volume can let go of the old copies it keeps.")
        .arg(drive.left(2).toUpper());
}

QString journalMessage(const QString& drive, bool complete)
{
    return complete ? QStringLiteral("The journal of Drive %1 (ext4) was written over too: the names of deleted files "
                                     "that it kept are gone.")
                          .arg(drive.left(2).toUpper())
                    : QStringLiteral("The journal of Drive %1 (ext4) could not be written over in %2 s: it may still "
                                     "hold the names of deleted files.")
                          .arg(drive.left(2).toUpper())
                          .arg(platform::kJournalChurnMs / 1000);
}

QString foldersMessage(const QString& drive, const FolderCover& cover)
{
    QString said = QStringLiteral("The indexes of %1 folder(s) of Drive %2 (NTFS) were written over with names of the "
                                  "wipe's own")
                       .arg(cover.folders)
                       .arg(drive.left(2).toUpper());
    if (cover.whole < cover.folders)
        said += QStringLiteral("; %1 of them could not be written over whole without growing them and may still hold "
                               "names of files deleted before the wipe")
                    .arg(cover.folders - cover.whole);
    if (!cover.all)
        said += QStringLiteral("; the other folders were not reached in the %1 s allowed and may still hold such names")
                    .arg(kMaxFolderSeconds);
    return said + u'.';
}

QString failingDriveWarning(const QString& drive)
{
    const QString d = drive.left(2).toUpper();
    return QStringLiteral("The Wipe of all Free Space was completed for Drive ") + d +
           QStringLiteral("\r\n\r\nHowever, errors were encountered that may indicated your drive is failing") +
           QStringLiteral("\r\nYou may want to consider replacing your Drive ") + d +
           QStringLiteral(" as soon as possible");
}

QString unverifiedMessage(const QString& drive, const QString& problem)
{
    return QStringLiteral("The last pass over the free space of Drive %1 did not read back from the drive as it was "
                          "written (%2).\r\n\r\nThe drive may not keep what is written to it, so old data may "
                          "still be in its free space.")
        .arg(drive.left(2).toUpper(), problem);
}

// The fill files of one pass. Whatever way the pass ends, none is left
// behind: each is flushed, closed and deleted, also when the program is
// ended in the middle of the pass. The pass also keeps what each file holds
// (runs of records, cut to what reached the file), so that the last pass
// can be read back before its files go.
class FillProcedure::Pass {
public:
    struct Written {
        QString path;
        platform::WrittenContent content;
    };

    Pass(FillTarget& target, QString drive, QStringList& leftBehind, std::uint64_t& bytesWritten,
         const platform::FileSystemTraits& facts, platform::Clock& clock)
        : target_(target), drive_(std::move(drive)), leftBehind_(leftBehind), bytesWritten_(bytesWritten),
          guard_([this] { endOfProgram(); }), records_(target, drive_, facts, clock, leftBehind)
    {
        records_.prepare();
    }
    RecordFill& records() { return records_; }
    ~Pass()
    {
        abandon();
        removeCreated();
    }

    FillWriter& writer()
    {
        // Gone when the program's end has already cleaned up this pass.
        if (!writer_)
            throw platform::RunTimeError(platform::ErrObjectNotSet, QStringLiteral("the fill file was closed"));
        return *writer_;
    }

    // Appends `count` records to the open fill file and writes them out.
    void write(const QByteArray& record, int count)
    {
        FillWriter& w = writer();
        files_.back().content.add(record, static_cast<std::uint64_t>(count));
        for (int i = 0; i < count; ++i)
            w.append(record.constData(), static_cast<std::size_t>(record.size()));
        w.commit();
    }
    const std::vector<Written>& files() const { return files_; }

    // Creates the next fill file: tmptxt<c>.txt, skipping names that exist
    // (a file the wipe did not create is never touched).
    void openNext(int& c)
    {
        for (;; ++c) {
            const QString path = drive_ + QStringLiteral("\\tmptxt%1.txt").arg(c);
            try {
                writer_ = target_.create(path);
                created_ << path;
                files_.push_back({path, {}});
                return;
            } catch (const platform::RunTimeError& e) {
                if (e.number() != platform::ErrPathFileAccess || !target_.exists(path) || c >= 32767)
                    throw;
            }
        }
    }
    void close()
    {
        if (writer_) {
            auto w = std::move(writer_);
            try {
                w->close();
            } catch (...) {
                settle(*w);
                throw;
            }
            settle(*w);
        }
    }
    void abandon()
    {
        if (writer_) {
            auto w = std::move(writer_);
            w->abandon();
            settle(*w);
        }
    }
    // Deletes the pass's files in the order they were made. A file stays
    // listed until it is gone, so that the program's end, which may come
    // while a deletion waits for the disk, deletes it too.
    void deleteFiles()
    {
        while (!created_.isEmpty()) {
            const QString path = created_.first();
            removeOne(path);
            created_.removeOne(path);
        }
        records_.deleteFiles();
    }

private:
    // The file holds what reached it, no more.
    void settle(const FillWriter& w)
    {
        files_.back().content.truncate(w.written());
        bytesWritten_ += w.written();
    }
    // A file already gone (the program's end deleted it meanwhile) counts
    // as deleted.
    void removeOne(const QString& path)
    {
        try {
            target_.remove(path);
        } catch (const platform::RunTimeError& e) {
            if (e.number() != platform::ErrFileNotFound)
                throw;
        }
    }
    void removeCreated()
    {
        while (!created_.isEmpty()) {
            const QString path = created_.first();
            try {
                removeOne(path);
            } catch (const platform::RunTimeError&) {
                leftBehind_ << path.section(u'\\', -1); // the volume has gone: say where they stay
            }
            created_.removeOne(path);
        }
    }
    // The program ends, perhaps while this pass waits for a write further
    // down the stack: the writer gives up its file but stays for that write
    // to return to (it then stops with 91).
    void endOfProgram()
    {
        if (writer_)
            writer_->abandon();
        removeCreated();
    }

    FillTarget& target_;
    QString drive_;
    QStringList& leftBehind_;
    std::uint64_t& bytesWritten_;
    std::unique_ptr<FillWriter> writer_;
    QStringList created_;
    std::vector<Written> files_;
    platform::EndOfProgramGuard guard_;
    RecordFill records_;
};

FillProcedure::FillProcedure(FillState state, FillView& view, platform::Services services)
    : s_(state), view_(view), services_(services)
{
}

void FillProcedure::probe()
{
    std::uint64_t bytes = 0;
    try {
        bytes = target_->freeBytes();
    } catch (const platform::RunTimeError&) {
        bytes = 0; // a failing query reads as a full drive
    }
    s_.FreeSpaceKB = drives::FreeSpaceKBFromBytes(bytes);
}

// Stop ends the pass where it stands: the run's clean-up deletes the fill
// files and puts the reserve back.
void FillProcedure::stopIfAsked()
{
    if (view_.stopRequested())
        throw platform::RunTimeError(platform::ErrUserInterrupt);
}

void FillProcedure::tickProcessTime()
{
    s_.WipeNowTime = services_.clock->now();
    QString text = format::ElapsedText(s_.WipeStartTime, s_.WipeNowTime);
    // Once a pass has run, the rest is likely to take as long again.
    if (passesRun_ > 0 && maximum_ > 0)
        if (const QString left = format::TimeLeftText(s_.WipeStartTime.msecsTo(s_.WipeNowTime),
                                                      double(progress_) / double(maximum_));
            !left.isEmpty())
            text += QStringLiteral(", ") + left;
    view_.setProcessTime(text);
}

void FillProcedure::displayUpdate()
{
    stopIfAsked();
    tickProcessTime();
    // A drive whose free space grows meanwhile (another program deleting)
    // takes more than was measured: the display stays within its bounds.
    const std::int64_t percent = maximum_ > 0 ? std::min<std::int64_t>(100, progress_ * 100 / maximum_) : 0;
    view_.setPercent(QStringLiteral("%1 %").arg(percent));
    view_.setProgress(progress_, maximum_);
    services_.clock->yield();
}

FillOutcome FillProcedure::run(int passes)
{
    startAfresh();
    const QString drive = s_.SelectedDrive.left(2);
    folder_ = services_.drives->nativePath(drive);

    view_.setProcessControlsEnabled(false);
    view_.offerStop(true);
    const auto stopOffered = qScopeGuard([this] { view_.offerStop(false); });
    view_.selectWipeOption(s_.WipeLevel == 1);
    // The process time goes on counting while a flush takes seconds.
    const platform::WhileBlocked ticking([this] { tickProcessTime(); });

    DriveHold hold; // the lock outlives the target and its clean-up
    try {
        if (std::optional<FillOutcome> refused = takeDrive(drive, hold))
            return *refused;
        if (target_->freeBytes() == 0)
            return noFreeSpace(drive);
        runPasses(passes, drive);
    } catch (const std::bad_alloc&) {
        return endEarly(platform::RunTimeError(platform::ErrOutOfMemory), drive, std::move(hold.target));
    } catch (const platform::RunTimeError& e) {
        return endEarly(e, drive, std::move(hold.target));
    }
    target_ = nullptr;
    const QString reserveLeft = hold.released ? hold.released->putBack() : QString();
    hold.target.reset();
    afterLastPass(drive);
    return finish(drive, hold.outOfReach, reserveLeft);
}

// Every wipe starts its patterns afresh and speaks only of its own errors.
void FillProcedure::startAfresh()
{
    s_.DriveErrorFlag = 0;
    s_.PatternCallCount = 0;
    spaceMissed_ = false;
    trimmed_ = false;
    journal_ = {};
    rootIndexCovered_.reset();
    foldersCovered_.reset();
    unwritable_ = false;
    quotaHit_ = false;
    unreachedKB_ = 0;
    keptKB_ = 0;
    recordFiles_ = 0;
    leftBehind_.clear();
    bytesWritten_ = 0;
    verified_ = {};
}

// The drive as the passes write it: confirmed, locked against a second
// wipe, cleared of an earlier wipe's files, its reserve released. What
// stops the wipe before anything is written is returned.
std::optional<FillOutcome> FillProcedure::takeDrive(const QString& drive, DriveHold& hold)
{
    const QString nothingWritten = QStringLiteral("The free space of drive %1 was not wiped: nothing was written.")
                                       .arg(drive.toUpper());
    if (!factory_ && !confirmVolume(drive))
        return notWiped(nothingWritten);
    if (factory_) {
        hold.target = factory_(drive);
    } else {
        QString busy;
        hold.lock = platform::VolumeLock::take(folder_, &busy);
        if (!hold.lock)
            return notWiped(QStringLiteral("The free space of drive %1 was not wiped: %2. Nothing was written.")
                                .arg(drive.toUpper(), busy));
        if (!clearLeftovers(drive))
            return notWiped(QStringLiteral("The free space of drive %1 was not wiped: the fill files of an "
                                           "earlier wipe hold part of it. Nothing was written.")
                                .arg(drive.toUpper()));
        auto disk = std::make_unique<ReleasedDiskTarget>(*services_.drives, drive);
        hold.outOfReach = disk->outOfReach();
        // Said before anything is written, and the user chooses.
        if (!disk->releaseFailure().isEmpty() &&
            !services_.prompter->confirm(
                QStringLiteral("The space the file system of drive %1 keeps in reserve could not be released "
                               "for the wipe: %2\r\n\r\nWipe the rest of the free space without it? The reserve "
                               "then keeps what it holds, and the wipe is recorded as incomplete.")
                    .arg(drive.toUpper(), disk->releaseFailure())))
            return notWiped(nothingWritten);
        hold.released = disk.get();
        hold.target = std::move(disk);
    }
    facts_ = hold.target->facts();
    if (!facts_.compression.isEmpty())
        hold.target = incompressible(std::move(hold.target));
    target_ = hold.target.get();
    return std::nullopt;
}

void FillProcedure::runPasses(int passes, const QString& drive)
{
    warnAboutSnapshots(drive);
    probe();
    freeAtStartKB_ = s_.FreeSpaceKB;
    const auto f0 = static_cast<std::int64_t>(s_.FreeSpaceKB);
    view_.setStatus(kWipingFreeSpace);
    view_.setDetail(QStringLiteral("Drive   ") + s_.SelectedDrive.left(1).toUpper());
    maximum_ = passes * f0;
    progress_ = 0;
    view_.setProgress(0, maximum_);
    s_.WipeStartTime = services_.clock->now();
    beginRecord(passes, drive);
    probe();
    passesRun_ = 0;
    for (int p = 1; p <= passes; ++p) {
        runPass(p, passes, drive);
        passesRun_ = p;
        record_->record().passesDone = p;
        record_->record().bytesWritten = bytesWritten_;
        record_->save();
    }
}

void FillProcedure::afterLastPass(const QString& drive)
{
    // Flash and thin storage keep what the fill wrote, and older copies,
    // until told the space is free.
    trimmed_ = !factory_ && platform::trimFreeSpace(folder_);
    // The journal keeps copies of the folder blocks each deletion changed:
    // the names of deleted files, where no fill reaches.
    if (!factory_ && platform::onExt4(folder_)) {
        view_.setStatus(QStringLiteral("Overwriting the journal of drive %1").arg(drive.left(2).toUpper()));
        journal_ = platform::churnJournal(folder_, platform::kJournalChurnMs);
    }
}

// Fill files that an earlier wipe left (stopped, and not repaired: another
// user's, or a journal that is gone) hold free space that a new wipe would
// never reach. They are named, and deleted when the user agrees; false when
// they stay.
bool FillProcedure::clearLeftovers(const QString& drive)
{
    const std::vector<platform::Leftover> left = platform::fillLeftovers(folder_);
    if (left.empty())
        return true;
    QStringList names;
    std::uint64_t bytes = 0;
    for (const platform::Leftover& l : left) {
        names << QStringLiteral("%1 (%2 MB)").arg(l.name).arg(double(l.bytes) / 1e6, 0, 'f', 1);
        bytes += l.bytes;
    }
    if (!services_.prompter->askYesNo(
            QStringLiteral("Drive %1 still holds the fill files of an earlier wipe that was stopped: %2. They take "
                           "%3 MB of its free space. Delete them first, then wipe?")
                .arg(drive.toUpper(), names.join(QStringLiteral(", ")))
                .arg(double(bytes) / 1e6, 0, 'f', 1)))
        return false;
    for (const platform::Leftover& l : left)
        platform::removeLeftover(folder_, l);
    return true;
}

// A letter whose folder is not a mount point would fill whatever volume
// holds that folder, the system disk when the volume meant has gone: that
// volume is named, and the user asked, before anything is written.
bool FillProcedure::confirmVolume(const QString& drive)
{
    const auto own = platform::canonicalFolder(folder_);
    const auto holding = platform::mountPointHolding(folder_);
    if (!own || !holding)
        throw platform::RunTimeError(platform::ErrDeviceUnavailable, folder_);
    if (*own == *holding)
        return true;
    const QString here = QStringLiteral("%1 [%2]").arg(drive.toUpper(), folder_);
    if (ownVolumeRequired_)
        throw platform::RunTimeError(platform::ErrDeviceUnavailable,
                                     here + QStringLiteral(" is not a drive of its own: its volume is not mounted there"));
    QString volume = QStringLiteral("the drive mounted at ") + *holding;
    QString target = QStringLiteral("that drive");
    const platform::DriveTable table = services_.drives->table();
    for (const platform::Drive& d : table.drives()) {
        if (platform::canonicalFolder(d.folder) == holding) {
            target = QString(d.letter.toUpper()) + u':';
            volume = QStringLiteral("%1 [%2]").arg(target, d.folder);
            break;
        }
    }
    return services_.prompter->askYesNo(
        QStringLiteral("%1 is not a drive of its own: it is a folder on %2. Wipe the free space of %3?")
            .arg(here, volume, target));
}

// A snapshot keeps deleted files as they were: they are not free space, and
// the user should know before trusting the wipe with them.
void FillProcedure::warnAboutSnapshots(const QString& drive)
{
    if (facts_.snapshots.isEmpty())
        return;
    services_.prompter->message(
        QStringLiteral("Drive %1 holds snapshots: %2.\r\n\r\nFiles kept in a snapshot are not free space: the "
                       "free-space wipe does not reach them, and they survive it. Delete the snapshots first to "
                       "have their space wiped too.")
            .arg(drive.toUpper(), facts_.snapshots.join(QStringLiteral(", "))));
}

FillOutcome FillProcedure::notWiped(const QString& message)
{
    view_.resetAfterFill();
    FillOutcome outcome;
    outcome.message = message;
    services_.prompter->message(message);
    return outcome;
}

// A drive with nothing free has nothing to wipe; fill files that an earlier,
// interrupted wipe left are the usual reason, and are named.
FillOutcome FillProcedure::noFreeSpace(const QString& drive)
{
    QStringList left;
    for (int n = 1; n < 32768; ++n) {
        const QString name = QStringLiteral("tmptxt%1.txt").arg(n);
        if (!target_->exists(drive + u'\\' + name))
            break;
        left << name;
    }
    // A driver that reports no size at all has not said the drive is full.
    QString message = !factory_ && platform::sizeUnknownAt(folder_)
                          ? QStringLiteral("Drive %1 does not say how large it is (its driver reports no size), so its "
                                           "free space cannot be measured and was not wiped.")
                                .arg(drive.toUpper())
                          : QStringLiteral("Drive %1 has no free space to wipe.").arg(drive.toUpper());
    if (!left.isEmpty())
        message += QStringLiteral("\r\n\r\nIts root holds fill files that an earlier wipe left: %1. Delete them, "
                                  "then wipe the free space again.")
                       .arg(left.join(QStringLiteral(", ")));
    target_ = nullptr;
    return notWiped(message);
}

FillOutcome FillProcedure::endEarly(const platform::RunTimeError& e, const QString& drive,
                                    std::unique_ptr<FillTarget> target)
{
    FillOutcome outcome;
    auto& prompter = *services_.prompter;
    {
        target_ = nullptr; // the reserve goes back and the pass's files are gone
        target.reset();
        if (e.number() == platform::ErrPathFileAccess)
            drives::ShowDriveInfo2(s_.SelectedDrive, {s_.DriveCategory, s_.DriveCategoryKnown}, *services_.drives,
                                   prompter, *services_.clock);
        fillBuffers().clear();
        view_.resetAfterFill();
        outcome.driveErrors = s_.DriveErrorFlag == 1;
        outcome.message = QStringLiteral("The Free Space Wipe of Drive %1 stopped before it was complete.\r\n\r\n")
                              .arg(drive.toUpper());
        if (e.number() == platform::ErrUserInterrupt)
            outcome.message = QStringLiteral("The Free Space Wipe of Drive %1 was stopped after %2 of %3 passes. %4"
                                             "The drive's free space was not wiped.")
                                  .arg(drive.toUpper())
                                  .arg(record_ ? record_->record().passesDone : 0)
                                  .arg(record_ ? record_->record().passesPlanned : 0)
                                  .arg(leftBehind_.isEmpty() ? QStringLiteral("Its fill files were deleted. ")
                                                             : QString());
        else if (e.isFileCountLimit())
            outcome.message += QStringLiteral("The file system of drive %1 can create no more files (it has no free "
                                              "inodes), although it has free space.")
                                   .arg(drive.toUpper());
        else
            outcome.message += QStringLiteral("Error %1: %2").arg(e.number()).arg(e.description());
        const bool readOnly = !leftBehind_.isEmpty() && !factory_ && platform::readOnlyAt(folder_);
        if (readOnly)
            outcome.message += QStringLiteral("\r\n\r\nDrive %1 is still mounted at %2, but read-only now (the "
                                              "system turns a volume read-only after an error). These fill files could "
                                              "not be deleted and are still at its root: %3. The program deletes "
                                              "them at its next start once the drive can be written again.")
                                   .arg(drive.toUpper(), folder_, leftBehind_.join(QStringLiteral(", ")));
        else if (!leftBehind_.isEmpty())
            outcome.message += QStringLiteral("\r\n\r\nThese fill files could not be deleted and are still at the "
                                              "root of the volume that was mounted at %1: %2. Delete them when that "
                                              "volume is mounted again.")
                                   .arg(folder_, leftBehind_.join(QStringLiteral(", ")));
        prompter.message(outcome.message);
        outcome.verification = verified_.result;
        if (record_)
            record_->setError(e.number(), e.isFileCountLimit() ? QStringLiteral("no free inodes") : e.description());
        endRecord(outcome);
        return outcome;
    }
}

// What the fill met: a failing drive, compression, room kept for records.
void FillProcedure::sayHowItFilled(FillOutcome& outcome, const QString& drive)
{
    auto& prompter = *services_.prompter;
    outcome.driveErrors = s_.DriveErrorFlag == 1;
    if (outcome.driveErrors) {
        outcome.message = failingDriveWarning(drive);
        prompter.message(outcome.message);
    }
    outcome.recordFiles = recordFiles_;
    if (!facts_.compression.isEmpty()) {
        outcome.message = QStringLiteral("Drive %1 stores its data compressed (%2): the fill files were written "
                                         "with incompressible data, each pass's pattern mixed with random data, so "
                                         "that they took up the whole free space.")
                              .arg(drive.toUpper(), facts_.compression);
        prompter.message(outcome.message);
    }
    if (keptKB_ > kSmallEndKB) {
        const double reached = std::max(0.0, freeAtStartKB_ - keptKB_);
        outcome.message =
            QStringLiteral("The fill files reached %1 MB of the %2 MB of free space on Drive %3. The file system "
                           "(%4) keeps the other %5 MB for its own records, where no file data can go; after each "
                           "pass, small files (%6 in the last) were written into its free record space to "
                           "overwrite the records and names of deleted files.")
                .arg(reached / 1024, 0, 'f', 1)
                .arg(freeAtStartKB_ / 1024, 0, 'f', 1)
                .arg(drive.toUpper(), facts_.fsType)
                .arg(keptKB_ / 1024, 0, 'f', 1)
                .arg(recordFiles_);
        prompter.message(outcome.message);
    }
}

void FillProcedure::sayWhatItMissed(FillOutcome& outcome, const QString& drive, bool outOfReach)
{
    auto& prompter = *services_.prompter;
    // Space the fill could not reach is never passed over in silence.
    auto missed = [&](bool happened, const QString& what) {
        if (!happened)
            return;
        outcome.spaceMissed = true;
        outcome.message = QStringLiteral("Part of the free space of Drive %1 ").arg(drive.toUpper()) + what;
        prompter.message(outcome.message);
        if (record_)
            record_->addNote(outcome.message);
    };
    missed(spaceMissed_, "may not have been reached: the drive stores the data compressed, so the fill files could "
                         "not fill it.");
    missed(unwritable_, "may not have been overwritten: the drive reported free space that could not be written.");
    missed(outOfReach, "was out of reach: the file system keeps it in reserve for the system administrator. Run the "
                       "program as root to wipe it too.");
    missed(quotaHit_, QStringLiteral("was not reached: a disk quota limits how much this user may write. "
                                                "Each pass wrote until the quota refused more, and %1 MB of the drive "
                                                "stayed free. Run the program as a user without a quota (root) to "
                                                "wipe it all.")
                                     .arg(unreachedKB_ / 1024, 0, 'f', 1));
    missed(!quotaHit_ && unreachedKB_ > 0,
           QStringLiteral("was not reached: a pass ended with %1 MB of it still free, which it could not write.")
               .arg(unreachedKB_ / 1024, 0, 'f', 1));
    // The status line and the record say the same.
    if (outcome.spaceMissed)
        view_.setStatus(kWipeIncomplete);
}

// What was done beside the fill, or left: names, the reserve, the trim,
// the NTFS root index, the ext4 journal.
void FillProcedure::sayWhatElseItDid(FillOutcome& outcome, const QString& drive, const QString& reserveLeft)
{
    auto& prompter = *services_.prompter;
    // Said where it is so (measured: every name of 199 deleted files was
    // left on XFS after a fill).
    if (facts_.fsType == QStringLiteral("xfs"))
        prompter.message(QStringLiteral("Drive %1 (XFS) keeps the names of deleted files in blocks of its own, which "
                                        "a fill of the free space does not reach: their contents were overwritten, "
                                        "their names were not.")
                             .arg(drive.toUpper()));
    if (!reserveLeft.isEmpty()) {
        outcome.spaceMissed = true; // never a plain success
        outcome.message = reserveLeft;
        prompter.message(outcome.message);
        if (record_)
            record_->addNote(outcome.message);
    }
    if (trimmed_)
        prompter.message(trimmedMessage(drive));
    if (rootIndexCovered_) {
        const QString said = *rootIndexCovered_
                                 ? QStringLiteral("The unused blocks of the root folder's index on Drive %1 (NTFS) "
                                                  "were written over, and its blocks in use as far as names of the "
                                                  "wipe's own reach.")
                                 : QStringLiteral("The index of the root folder of Drive %1 (NTFS) could not be "
                                                  "written over whole without growing it: it may still hold names of "
                                                  "files deleted before the wipe.");
        if (!*rootIndexCovered_)
            prompter.message(said.arg(drive.left(2).toUpper()));
        if (record_)
            record_->addNote(said.arg(drive.left(2).toUpper()));
    }
    if (foldersCovered_) {
        const QString said = foldersMessage(drive, *foldersCovered_);
        if (!foldersCovered_->all || foldersCovered_->whole < foldersCovered_->folders)
            prompter.message(said);
        if (record_)
            record_->addNote(said);
    }
    if (journal_.ran) {
        const QString said = journalMessage(drive, journal_.complete);
        prompter.message(said);
        if (record_)
            record_->addNote(said);
    }
}

FillOutcome FillProcedure::finish(const QString& drive, bool outOfReach, const QString& reserveLeft)
{
    FillOutcome outcome;
    auto& prompter = *services_.prompter;
    view_.setPercent(QStringLiteral("100 %"));
    services_.clock->pause(1000);
    view_.setStatus(kWipeCompleted);
    view_.resetAfterFill();
    outcome.completed = true;
    sayHowItFilled(outcome, drive);
    sayWhatItMissed(outcome, drive, outOfReach);
    sayWhatElseItDid(outcome, drive, reserveLeft);
    // Said last: what the user must act on.
    outcome.verification = verified_.result;
    if (verified_.result == platform::Verification::Failed) {
        outcome.message = unverifiedMessage(drive, verified_.problem);
        prompter.message(outcome.message);
    }
    if (record_ && outcome.driveErrors)
        record_->addNote(
            QStringLiteral("The drive failed writes on the way (input/output errors): it may be failing."));
    endRecord(outcome);
    return outcome;
}

// A free-space wipe keeps its own record; a drive fill adds to the record
// of the entire-drive wipe it is part of.
void FillProcedure::beginRecord(int passes, const QString& drive)
{
    if (record_)
        return;
    records::WipeRecord r = records::newRecord(records::ProcessKind::FreeSpace, records::levelName(s_.WipeLevel),
                                               passes, records::driveFacts(drive, folder_));
    ownRecord_ = std::make_unique<records::Recorder>(std::move(r), *services_.prompter);
    record_ = ownRecord_.get();
}

void FillProcedure::endRecord(const FillOutcome& outcome)
{
    if (!record_)
        return;
    record_->record().bytesWritten = bytesWritten_;
    record_->setVerification(verified_.result, verified_.problem);
    if (!ownRecord_) {
        record_->save();
        return;
    }
    using records::Outcome;
    ownRecord_->complete(!outcome.completed ? Outcome::Stopped
                                            : outcome.spaceMissed ? Outcome::Incomplete : Outcome::Completed);
}

// Reads the last pass's fill files back before they are deleted: the
// wipe's proof that the free space holds what was written.
void FillProcedure::verifyLastPass(Pass& pass)
{
    view_.setStatus(kVerifyingWipe);
    for (const Pass::Written& file : pass.files()) {
        verified_ = target_->verify(file.path, file.content);
        if (verified_.result != platform::Verification::Passed)
            break;
        tickProcessTime();
        services_.clock->yield();
    }
}

// The records of one pass and how far it may write: the free space it
// started with, and a little more.
struct FillProcedure::PassWrites {
    Pass& pass;
    bool lastPass;
    QByteArray large, medium, small;
    std::uint64_t limit = 0;
    std::uint64_t written = 0;
    // How the pass has met a full drive so far.
    bool diskFullBefore = false;
    double freeAtDiskFull = 0;
    int ioErrors = 0;
    int file = 1; // the fill file being written
};

void FillProcedure::runPass(int p, int passes, const QString& drive)
{
    Pass pass(*target_, drive, leftBehind_, bytesWritten_, facts_, *services_.clock);
    probe();
    Get_Char(s_.PatternCallCount);
    probe();
    const FillBuffers& shared = fillBuffers();
    PassWrites w{pass, p == passes, record(shared.FillBlock5K), record(shared.FillBlock25K),
                 record(shared.FillBlock1K), static_cast<std::uint64_t>(s_.FreeSpaceKB) * 1024 + kOverrunBytes};
    pass.openNext(w.file);
    for (;;) {
        try {
            writeStages(w);
            break;
        } catch (const platform::RunTimeError& e) {
            if (!goesOnAfter(e, w))
                break;
        }
    }
    endPass(pass, p, w.lastPass, shared);
}

// Large records while much is free, in batches sized by the free space
// (measured once a batch); then medium and small ones, each shown in the
// free space at once, until the drive is all but full. Each stage also
// takes what the one before left: a stage skipped would leave old data in
// those blocks on every pass.
void FillProcedure::writeStages(PassWrites& w)
{
    // Free space from which a batch is this large: records, and progress.
    static constexpr struct {
        double minKB;
        int records;
        int stepKB;
    } kLargeBatches[] = {{6400, 1280, 6400}, {3200, 640, 3200}, {1600, 320, 1600}, {0, 160, 800}};
    auto write = [&](const QByteArray& rec, int count) {
        w.pass.write(rec, count);
        w.written += static_cast<std::uint64_t>(rec.size()) * static_cast<std::uint64_t>(count);
    };
    auto overrun = [&] {
        if (w.written <= w.limit)
            return false;
        spaceMissed_ = true;
        return true;
    };
    if (s_.FreeSpaceKB >= kLargeStageKB) {
        do {
            const auto& batch = *std::find_if(std::begin(kLargeBatches), std::end(kLargeBatches),
                                              [&](const auto& row) { return s_.FreeSpaceKB >= row.minKB; });
            write(w.large, batch.records);
            progress_ += batch.stepKB;
            displayUpdate();
            probe();
        } while (s_.FreeSpaceKB > kLargeStageKB && !overrun());
    }
    w.pass.writer().endDirect();
    probe();
    // Exactly 800 KiB left after the large stage is written here too.
    if (s_.FreeSpaceKB <= kLargeStageKB && s_.FreeSpaceKB > kMediumStageKB && !overrun()) {
        do {
            write(w.medium, 1);
            if (w.lastPass)
                view_.setStatus(kCompletingWipe);
            progress_ += 25;
            displayUpdate();
            probe();
        } while (s_.FreeSpaceKB > kMediumEndKB && !overrun());
    }
    probe();
    // 27 to 50 KiB left after the large stage are taken here.
    if (s_.FreeSpaceKB <= kMediumStageKB && !overrun()) {
        do {
            write(w.small, 1);
            progress_ += 1;
            if (w.lastPass)
                view_.setStatus(kFinalizingWipe);
            displayUpdate();
            probe();
        } while (s_.FreeSpaceKB > kSmallEndKB && !overrun());
    }
}

// A write refused for want of room (or failed by the device) ends the fill
// file; the pass goes on in the next one while the drive takes anything at
// all. False when the pass has reached all it can; rethrows what is no full
// drive.
bool FillProcedure::goesOnAfter(const platform::RunTimeError& e, PassWrites& w)
{
    const bool ioError = e.number() == platform::ErrDeviceIO;
    if (e.number() != platform::ErrDiskFull && !ioError)
        throw; // (called from the handler: what it caught goes on)
    w.pass.abandon();
    probe();
    if (e.isQuotaLimit()) {
        // The user may write no more, whatever the drive has: the pass ends
        // here, and the end says how far it got.
        quotaHit_ = true;
        return false;
    }
    // Only a write the drive itself failed may say it is failing: a
    // disk-full error can be another program taking the last room between
    // the look and the write.
    if (ioError && ++w.ioErrors > kIoErrorsPerPass)
        throw;
    if (ioError)
        s_.DriveErrorFlag = 1;
    if (!e.isFileSizeLimit()) {
        // The drive reports space it cannot write: take it as full.
        const bool noneGone = w.diskFullBefore && s_.FreeSpaceKB >= w.freeAtDiskFull;
        w.diskFullBefore = true;
        w.freeAtDiskFull = s_.FreeSpaceKB;
        if (noneGone) {
            // What it still reports free was not written: say so.
            if (w.pass.records().keepsMetadataRoom())
                keptKB_ = std::max(keptKB_, s_.FreeSpaceKB);
            else
                unwritable_ = unwritable_ || s_.FreeSpaceKB > kSmallEndKB;
            return false;
        }
    }
    try {
        w.pass.openNext(++w.file);
    } catch (const platform::RunTimeError& full) {
        // Too full even for a new, empty file: the drive is full.
        if (full.number() != platform::ErrDiskFull)
            throw;
        return false;
    }
    return true;
}

// The drive is full: what it still keeps is filled and said, the last pass
// is read back, and the pass's files go.
void FillProcedure::endPass(Pass& pass, int p, bool lastPass, const FillBuffers& shared)
{
    // More than a little left free that no reason above explains (not the
    // room a file system keeps for its records, not space it reports but
    // refuses): the pass did not reach it, whatever stopped it.
    probe();
    if (s_.FreeSpaceKB > kUnreachedKB && !pass.records().keepsMetadataRoom() && !unwritable_)
        unreachedKB_ = std::max(unreachedKB_, s_.FreeSpaceKB);
    pass.close();
    // While the drive is full: once, for the names deleted before the wipe.
    if (p == 1)
        rootIndexCovered_ = pass.records().coverRootIndex();
    // A Complete Wipe: the names deleted from every other folder as well.
    if (p == 1 && (s_.WipeLevel == 1 || everyFolder_)) {
        foldersCovered_ = pass.records().coverEveryFolder([this](int folders) {
            view_.setStatus(QStringLiteral("Writing over deleted names: %1 folder(s)").arg(folders));
            tickProcessTime();
            return !view_.stopRequested();
        });
        stopIfAsked();
    }
    pass.records().fill(shared);
    recordFiles_ = pass.records().filesMade();
    fillBuffers().clear();
    probe();
    pauseSeconds(4);
    stopIfAsked();
    if (lastPass)
        verifyLastPass(pass);
    pass.deleteFiles();
    pauseSeconds(3);
    probe();
}

void FillProcedure::pauseSeconds(int seconds)
{
    for (int i = 0; i < seconds && pauses_; ++i) {
        services_.clock->pause(1000);
        tickProcessTime();
    }
}

} // namespace engine
