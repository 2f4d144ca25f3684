#pragma once
// A volume in memory whose free space follows the bytes written, and a view
// that records what a fill shows.
#include "engine/filltarget.h"
#include "engine/fillview.h"
#include "engine/freespacewipe.h"
#include "support/fakes.h"

#include <QMap>
#include <QStringList>
#include <functional>
#include <vector>

namespace testsupport {

class MemoryVolume : public engine::FillTarget {
public:
    explicit MemoryVolume(std::uint64_t capacity) : capacity(capacity) {}

    std::uint64_t freeBytes() override;
    std::unique_ptr<engine::FillWriter> create(const QString& drivePath) override;
    bool exists(const QString& drivePath) override { return files.contains(drivePath); }
    void remove(const QString& drivePath) override;

    std::uint64_t used() const;

    std::uint64_t capacity;
    // The drive reports this much more free space than it can write.
    std::uint64_t phantomFree = 0;
    // A per-file size limit (0: none), as FAT32's 4 GiB.
    std::uint64_t fileLimit = 0;
    // Bytes stored per byte written (below 1: a compressing file system).
    double storedPerByte = 1.0;
    // Throws this error number from create() when not 0.
    int createError = 0;

    QMap<QString, std::uint64_t> files;   // path -> length
    QMap<QString, bool> open;
    QStringList created, removed;
    std::vector<std::uint64_t> commits;   // bytes per commit
    int diskFullErrors = 0;
    int syncedCloses = 0;
    std::function<void()> onCommit;
};

// A target that forwards to one the test keeps, so that the test can look
// at it after the fill has let go of its handle.
std::unique_ptr<engine::FillTarget> borrow(engine::FillTarget& target);

class RecordingView : public engine::FillView {
public:
    void setStatus(const QString& t) override { statuses << t; }
    void setDetail(const QString& t) override { details << t; }
    void setPercent(const QString& t) override { percents << t; }
    void setProcessTime(const QString& t) override { times << t; }
    void setProgress(std::int64_t v, std::int64_t m) override
    {
        value = v;
        maximum = m;
    }
    void setProcessControlsEnabled(bool on) override { controls << on; }
    void selectWipeOption(bool complete) override { completeSelected = complete; }
    void resetAfterFill() override { ++resets; }

    QStringList statuses, details, percents, times;
    std::int64_t value = -1, maximum = -1;
    QList<bool> controls;
    bool completeSelected = false;
    int resets = 0;
};

// The state, window and services one fill works with, as a test holds them.
struct FillHarness {
    QString drive = "t:\\";
    std::int16_t level = 1;
    double freeKB = 0;
    QDateTime start, now;
    std::int16_t errorFlag = 0;
    std::int32_t patterns = 0;
    std::int16_t category = 0, known = 0;
    RecordingView view;
    ScriptedPrompter prompter;
    FastClock clock;
    FakeDrives drives;

    // Runs on the real disk behind the letter, or on `target` when given.
    engine::FillOutcome runFill(int passes, engine::FillTarget* target = nullptr);
};

} // namespace testsupport
