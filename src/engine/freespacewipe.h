#pragma once
// The free-space wipe and the drive fill after a format: pass after pass,
// fill files of generated data fill the drive's free space and are deleted
// again. One procedure, two pass counts.
#include "engine/filldata.h"
#include "engine/filltarget.h"
#include "engine/fillview.h"
#include "platform/journalchurn.h"
#include "platform/errors.h"
#include "platform/services.h"
#include "records/recorder.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <functional>
#include <memory>

namespace platform {
class VolumeLock;
}

namespace engine {

class ReleasedDiskTarget;

// The window and process state a fill reads and writes.
struct FillState {
    QString& SelectedDrive;
    std::int16_t& WipeLevel;
    double& FreeSpaceKB;
    QDateTime& WipeStartTime;
    QDateTime& WipeNowTime;
    std::int16_t& DriveErrorFlag;
    std::int32_t& PatternCallCount;
    std::int16_t& DriveCategory;
    std::int16_t& DriveCategoryKnown;
};

struct FillOutcome {
    bool completed = false;    // every pass ran to its end
    bool driveErrors = false;  // write errors of the device: the drive may be failing
    bool spaceMissed = false;  // part of the free space could not be reached
    int recordFiles = 0;       // small files the last pass wrote into freed records
    QString message;           // the last message shown, if any
    // The last pass read back from the device: NotRun when it was not
    // reached (or the volume cannot be read back).
    platform::Verification verification = platform::Verification::NotRun;
};

inline const QString kWipingFreeSpace = QStringLiteral("Wiping Free Space");
inline const QString kCompletingWipe = QStringLiteral("Completing Wipe of Free Space");
inline const QString kFinalizingWipe = QStringLiteral("Finalizing Free Space Wipe");
inline const QString kWipeCompleted = QStringLiteral("Free Space Wipe Completed");
inline const QString kWipeIncomplete =
    QStringLiteral("Free Space Wipe Incomplete: part of the free space was not reached");

// Makes the target for a drive; the disk by default.
using FillTargetFactory = std::function<std::unique_ptr<FillTarget>(const QString& drive)>;

class FillProcedure {
public:
    FillProcedure(FillState state, FillView& view, platform::Services services);
    // Runs `passes` passes over the drive `SelectedDrive` starts with.
    FillOutcome run(int passes);

    // Tests and the benchmark put their own volume behind the fill.
    void setTargetFactory(FillTargetFactory factory) { factory_ = std::move(factory); }
    // The seven seconds of pause between passes (off for the benchmark).
    void setPauses(bool on) { pauses_ = on; }
    // A drive fill after a format writes to the drive's own volume or not
    // at all: a folder whose volume is not mounted there is refused, where
    // a free-space wipe asks whether to wipe the volume that holds it.
    void setOwnVolumeRequired(bool on) { ownVolumeRequired_ = on; }
    // The names deleted from every folder are written over, as a Complete
    // Wipe always does.
    void setEveryFolder(bool on) { everyFolder_ = on; }
    // The record of the process this fill is part of (an entire-drive
    // wipe's); without one, the fill keeps a free-space wipe record itself.
    void setRecord(records::Recorder* record) { record_ = record; }

private:
    class Pass;
    void probe();
    void displayUpdate();
    void stopIfAsked();
    int passesRun_ = 0; // passes of this run that have ended, for the time left
    void tickProcessTime();
    // What a wipe holds of its drive while it runs.
    struct DriveHold {
        std::unique_ptr<platform::VolumeLock> lock;
        std::unique_ptr<FillTarget> target;
        ReleasedDiskTarget* released = nullptr; // the target, when it released a reserve
        bool outOfReach = false;
    };
    void startAfresh();
    std::optional<FillOutcome> takeDrive(const QString& drive, DriveHold& hold);
    void runPasses(int passes, const QString& drive);
    void afterLastPass(const QString& drive);
    void runPass(int p, int passes, const QString& drive);
    struct PassWrites;
    void writeStages(PassWrites& w);
    bool goesOnAfter(const platform::RunTimeError& e, PassWrites& w);
    void endPass(Pass& pass, int p, bool lastPass, const FillBuffers& shared);
    void pauseSeconds(int seconds);
    bool confirmVolume(const QString& drive);
    void warnAboutSnapshots(const QString& drive);
    FillOutcome notWiped(const QString& message);
    FillOutcome noFreeSpace(const QString& drive);
    FillOutcome endEarly(const platform::RunTimeError& e, const QString& drive, std::unique_ptr<FillTarget> target);
    bool clearLeftovers(const QString& drive);
    FillOutcome finish(const QString& drive, bool outOfReach, const QString& reserveLeft);
    void sayHowItFilled(FillOutcome& outcome, const QString& drive);
    void sayWhatItMissed(FillOutcome& outcome, const QString& drive, bool outOfReach);
    void sayWhatElseItDid(FillOutcome& outcome, const QString& drive, const QString& reserveLeft);
    void beginRecord(int passes, const QString& drive);
    void endRecord(const FillOutcome& outcome);
    void verifyLastPass(Pass& pass);

    FillState s_;
    FillView& view_;
    platform::Services services_;
    FillTargetFactory factory_;
    bool pauses_ = true;
    bool ownVolumeRequired_ = false;
    bool everyFolder_ = false;
    FillTarget* target_ = nullptr;
    QString folder_;          // where the drive was when the fill began
    QStringList leftBehind_;  // fill files that could not be deleted
    std::int64_t progress_ = 0;
    std::int64_t maximum_ = 0;
    bool spaceMissed_ = false; // stopped by the bound: the drive compresses
    bool unwritable_ = false;  // reported free space that could not be written
    bool quotaHit_ = false;    // a disk quota stopped a pass, not the drive
    double unreachedKB_ = 0;   // the most a pass left free for no reason it could name
    bool trimmed_ = false;     // the device was told the free space is free
    platform::JournalChurn journal_; // the ext4 journal written over
    std::optional<bool> rootIndexCovered_; // NTFS: the root's index written over whole
    std::optional<FolderCover> foldersCovered_; // NTFS, a Complete Wipe: every other folder's
    records::Recorder* record_ = nullptr;
    std::unique_ptr<records::Recorder> ownRecord_;
    std::uint64_t bytesWritten_ = 0;
    platform::ReadBack verified_;
    platform::FileSystemTraits facts_; // of the drive being wiped
    double freeAtStartKB_ = 0;
    double keptKB_ = 0;        // free space that only the file system's records may take
    int recordFiles_ = 0;
};

QString unverifiedMessage(const QString& drive, const QString& problem);

// 12 passes for a Complete Wipe, 6 otherwise.
int freeSpacePasses(std::int16_t wipeLevel);
// 10 passes for a Complete Wipe, 5 otherwise.
int driveFillPasses(std::int16_t wipeLevel);

QString failingDriveWarning(const QString& drive);
// What covering the indexes of the drive's folders reached.
QString foldersMessage(const QString& drive, const FolderCover& cover);
// Said after a wipe whose drive took the trim of its free space.
QString trimmedMessage(const QString& drive);
// What a free-space wipe of `driveEntry` ("t: [/mnt/t]") at `wipeLevel` is,
// as the question before it says it: "the free space of T: [/mnt/t]
// (1.2 GB free), 12 passes".
QString freeSpaceWipeText(const platform::Services& services, const QString& driveEntry, std::int16_t wipeLevel);
// What was done about the ext4 journal, said only where it has one.
QString journalMessage(const QString& drive, bool complete);

} // namespace engine
