#include "engine/filldata.h"
#include "platform/errors.h"
#include "support/fillfakes.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <numeric>

using engine::FillOutcome;
using testsupport::MemoryVolume;

class FillStages : public ::testing::Test, protected testsupport::FillHarness {
protected:
    QTemporaryDir dir;
    testsupport::EnvGuard env{"ZARVEX_DRIVES", "c=/;t=" + dir.path()};

    static std::uint64_t sum(const std::vector<std::uint64_t>& commits)
    {
        return std::accumulate(commits.begin(), commits.end(), std::uint64_t{0});
    }
};

// Records shrink as the drive fills (5 KiB, 25 KiB, 1 KiB) and stop with
// fewer than 4,000 bytes left; each pass is one file, flushed and deleted.
TEST_F(FillStages, RecordsShrinkAsTheDriveFillsAndStopBeforeItIsFull)
{
    const struct {
        const char* what;
        std::uint64_t capacity;
        int passes;
        std::vector<std::pair<std::uint64_t, int>> pass; // record bytes x records per commit, commits
        std::int64_t progress;
    } cases[] = {
        {"every stage, three passes", 10'000'000, 3,
         {{1280 * 5122, 1}, {640 * 5122, 1}, {25'602, 6}, {1'026, 8}}, 3 * (6400 + 3200 + 6 * 25 + 8)},
        {"exactly 800 KiB at the start: one small batch", 820'999, 1, {{160 * 5122, 1}, {1'026, 1}}, 801},
        {"under 2 KiB: still one small record", 1'500, 1, {{1'026, 1}}, 1},
        // Too little for the medium stage, more than the small stage's 26
        // KiB: left alone, those blocks would keep their old data.
        {"40 KiB, between the stages", 40 * 1024 + 500, 2, {{1'026, 37}}, 2 * 37},
        {"exactly 800 KiB after a large batch: the medium stage", 2'459'500, 1,
         {{320 * 5122, 1}, {25'602, 31}, {1'026, 23}}, 1600 + 31 * 25 + 23},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryVolume v(c.capacity);
        view = {};
        EXPECT_TRUE(runFill(c.passes, &v).completed);
        std::vector<std::uint64_t> pass, all;
        for (const auto& [size, n] : c.pass)
            pass.insert(pass.end(), n, size);
        for (int p = 0; p < c.passes; ++p)
            all.insert(all.end(), pass.begin(), pass.end());
        EXPECT_EQ(v.commits, all);
        EXPECT_LT(c.capacity - sum(pass), 4000u);
        EXPECT_EQ(v.diskFullErrors, 0);
        EXPECT_EQ(view.value, c.progress);
        // The last pass alone says it is completing and finalizing.
        EXPECT_EQ(view.statuses.count("Completing Wipe of Free Space"), std::count(pass.begin(), pass.end(), 25'602));
        EXPECT_EQ(view.statuses.count("Finalizing Free Space Wipe"), std::count(pass.begin(), pass.end(), 1'026));
        EXPECT_EQ(v.created, QStringList(c.passes, "t:\\tmptxt1.txt"));
        EXPECT_EQ(v.removed, v.created);
        EXPECT_EQ(v.syncedCloses, c.passes);
        EXPECT_TRUE(engine::fillBuffers().FillBlock5K.isEmpty());
    }
}

TEST_F(FillStages, PassCountsPatternsPausesAndTheWindowAroundThem)
{
    for (const auto& [wipeLevel, passes] : {std::pair{1, 12}, std::pair{2, 6}}) {
        SCOPED_TRACE(passes);
        ASSERT_EQ(engine::freeSpacePasses(wipeLevel), passes);
        MemoryVolume v(3'000'000);
        view = {};
        clock.pausedMs = 0;
        errorFlag = 1; // left from an earlier wipe
        patterns = 7;
        level = wipeLevel;
        EXPECT_TRUE(runFill(passes, &v).completed);
        EXPECT_EQ(errorFlag, 0);
        EXPECT_EQ(patterns, passes); // zeros, ones, a letter, random: from the start
        EXPECT_EQ(view.maximum, passes * 2929);
        EXPECT_EQ(clock.pausedMs, passes * 7000 + 1000);
        EXPECT_EQ(view.controls, QList<bool>({false}));
        EXPECT_EQ(view.completeSelected, wipeLevel == 1);
        EXPECT_EQ(view.resets, 1);
        EXPECT_EQ(view.statuses.first(), "Wiping Free Space");
    }
}

// A drive that will not take what it reports free, a file size limit, a
// drive that compresses the fill, a quota, I/O errors: each ends as it
// should, its fill files gone, with only the messages that fit. Only the
// device's own write errors say the drive may be failing: a full drive can
// be another program's doing.
TEST_F(FillStages, WriteTroublesEndWithTheMessagesThatFit)
{
    const struct {
        const char* what;
        std::function<void(MemoryVolume&)> setUp;
        bool completed, driveErrors, spaceMissed;
        int files;
        QStringList says; // contained in each message, in order
    } cases[] = {
        // Disk full mid-batch goes on in the next file; the second, with no
        // space gone, ends the pass.
        {"reports space it cannot write", [](MemoryVolume& v) { v.phantomFree = 7'000'000; }, true, false, true, 2,
         {"could not be written"}},
        {"file size limit", [](MemoryVolume& v) { v.fileLimit = 3'000'000; }, true, false, false, 3, {}},
        {"compressing", [](MemoryVolume& v) { v.capacity = 1'000'000; v.storedPerByte = 0.001; }, true, false, true,
         1, {"compressed"}},
        {"a quota mid-pass",
         [](MemoryVolume& v) {
             v.onCommit = [&v] {
                 if (v.commits.size() == 2)
                     throw platform::RunTimeError(platform::ErrDiskFull, "t:\\tmptxt1.txt", platform::Limit::Quota);
             };
         },
         true, false, true, 1, {"a disk quota limits how much this user may write"}},
        {"an I/O error mid-pass goes on in the next file",
         [](MemoryVolume& v) {
             v.onCommit = [&v] {
                 if (v.commits.size() == 2)
                     throw platform::RunTimeError(platform::ErrDeviceIO, "t:\\tmptxt1.txt");
             };
         },
         true, true, false, 2,
         {"The Wipe of all Free Space was completed for Drive T:\r\n\r\nHowever, errors were encountered that may "
          "indicated your drive is failing\r\nYou may want to consider replacing your Drive T: as soon as possible"}},
        {"I/O errors at every write",
         [](MemoryVolume& v) {
             v.onCommit = [&v] {
                 if (v.commits.size() >= 2)
                     throw platform::RunTimeError(platform::ErrDeviceIO, "t:\\tmptxt1.txt");
             };
         },
         false, true, false, 4,
         {"The Free Space Wipe of Drive T: stopped before it was complete.\r\n\r\nError 57: Device I/O error"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryVolume v(7'000'000);
        c.setUp(v);
        view = {};
        prompter.texts.clear();
        const FillOutcome out = runFill(1, &v);
        EXPECT_EQ(out.completed, c.completed);
        EXPECT_EQ(out.driveErrors, c.driveErrors);
        EXPECT_EQ(errorFlag, c.driveErrors ? 1 : 0);
        EXPECT_EQ(out.spaceMissed, c.spaceMissed);
        EXPECT_EQ(v.created.size(), c.files);
        EXPECT_EQ(v.removed, v.created);
        EXPECT_EQ(view.resets, 1);
        ASSERT_EQ(prompter.texts.size(), c.says.size()) << prompter.texts.join("|").toStdString();
        for (int i = 0; i < c.says.size(); ++i)
            EXPECT_TRUE(prompter.texts[i].contains(c.says[i])) << prompter.texts[i].toStdString();
        // A compressing drive is written no further than 64 MiB past its free space.
        EXPECT_TRUE(v.storedPerByte == 1.0 ||
                    (sum(v.commits) > 976u * 1024 + (64u << 20) && sum(v.commits) < 976u * 1024 + (71u << 20)))
            << sum(v.commits);
    }
}
