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

    std::uint64_t freeBytes() override { return capacity - used() + phantomFree; }
    std::unique_ptr<engine::FillWriter> create(const QString& drivePath) override;
    bool exists(const QString& drivePath) override { return files.contains(drivePath); }
    void remove(const QString& drivePath) override;
    std::uint64_t used() const;

    std::uint64_t capacity;
    std::uint64_t phantomFree = 0;  // reported free beyond what can be written
    std::uint64_t fileLimit = 0;    // per file (0: none), as FAT32's 4 GiB
    double storedPerByte = 1.0;     // below 1: a compressing file system
    int createError = 0;            // thrown by create() when not 0

    QMap<QString, std::uint64_t> files; // path -> length
    QStringList created, removed;
    std::vector<std::uint64_t> commits; // bytes per commit
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
    void setDetail(const QString&) override {}
    void setPercent(const QString&) override {}
    void setProcessTime(const QString&) override {}
    void setProgress(std::int64_t v, std::int64_t m) override { value = v, maximum = m; }
    void setProcessControlsEnabled(bool on) override { controls << on; }
    void selectWipeOption(bool complete) override { completeSelected = complete; }
    void resetAfterFill() override { ++resets; }

    QStringList statuses;
    std::int64_t value = -1, maximum = -1;
    QList<bool> controls;
    bool completeSelected = false;
    int resets = 0;
};

// The state, window and services one fill works with, as a test holds them.
struct FillHarness {
    QString drive = "t:\\";
    std::int16_t level = 1, errorFlag = 0, category = 0, known = 0;
    double freeKB = 0;
    QDateTime start, now;
    std::int32_t patterns = 0;
    bool everyFolder = false; // the names of every folder asked for
    RecordingView view;
    ScriptedPrompter prompter;
    FastClock clock;
    FakeDrives drives;

    // Runs on the real disk behind the letter, or on `target` when given.
    engine::FillOutcome runFill(int passes, engine::FillTarget* target = nullptr);
};

// Files on a real volume: the fill files at its root, whole files written
// and flushed, a small file's text (empty when unreadable).
QStringList fillFilesIn(const QString& folder);
bool writeFile(const QString& path, const QByteArray& data);
QString readText(const QString& path);

} // namespace testsupport
