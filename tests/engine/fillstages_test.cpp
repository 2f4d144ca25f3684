#include "engine/filldata.h"
#include "engine/freespacewipe.h"
#include "platform/errors.h"
#include "platform/shutdown.h"
#include "support/fakes.h"
#include "support/fillfakes.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using engine::FillOutcome;
using testsupport::MemoryVolume;

namespace {
struct Ended {};
}

class FillStages : public ::testing::Test, protected testsupport::FillHarness {
protected:
    QTemporaryDir dir;
    testsupport::EnvGuard env{"ZARVEX_DRIVES", "c=/;t=" + dir.path()};

    FillOutcome run(MemoryVolume& v, int passes) { return runFill(passes, &v); }
    static std::vector<std::uint64_t> repeat(std::uint64_t size, int n) { return std::vector<std::uint64_t>(n, size); }
};

TEST_F(FillStages, RecordsShrinkAsTheDriveFillsAndStopBeforeItIsFull)
{
    MemoryVolume v(10'000'000); // 9,765 KiB by the probe's rounding
    const FillOutcome out = run(v, 1);
    std::vector<std::uint64_t> expected{1280 * 5122, 640 * 5122};
    for (auto s : repeat(25'602, 6))
        expected.push_back(s);
    for (auto s : repeat(1'026, 8))
        expected.push_back(s);
    EXPECT_EQ(v.commits, expected);
    EXPECT_LT(v.capacity - v.commits.size() * 0 - [&] {
        std::uint64_t sum = 0;
        for (auto c : v.commits)
            sum += c;
        return sum;
    }(), 4000u); // fewer than 4,000 bytes left unwritten
    EXPECT_EQ(v.diskFullErrors, 0);
    EXPECT_TRUE(out.completed);
    EXPECT_EQ(view.value, 6400 + 3200 + 6 * 25 + 8);
    EXPECT_EQ(view.maximum, 9765);
    EXPECT_EQ(view.percents.last(), "100 %");
    EXPECT_EQ(view.percents[view.percents.size() - 2], "99 %");
    EXPECT_EQ(view.details, QStringList({"Drive   T"}));
    // One file, written, flushed, closed and deleted.
    EXPECT_EQ(v.created, QStringList({"t:\\tmptxt1.txt"}));
    EXPECT_EQ(v.removed, v.created);
    EXPECT_EQ(v.syncedCloses, 1);
    EXPECT_TRUE(v.files.isEmpty());
    EXPECT_TRUE(engine::fillBuffers().FillBlock5K.isEmpty());
}

TEST_F(FillStages, ExactlyEightHundredGivesOneSmallBatchAndAtLeastOneSmallRecord)
{
    MemoryVolume v(820'999); // 800 KiB at the large-stage test
    run(v, 1);
    EXPECT_EQ(v.commits, (std::vector<std::uint64_t>{160 * 5122, 1026}));
    EXPECT_EQ(view.value, 801);

    // Under 2 KiB free: the small record is still written once.
    MemoryVolume tiny(1'500);
    view = {};
    run(tiny, 1);
    EXPECT_EQ(tiny.commits, (std::vector<std::uint64_t>{1026}));
    EXPECT_EQ(tiny.diskFullErrors, 0);
}

TEST_F(FillStages, SpaceBetweenTheStagesIsWrittenInSmallRecords)
{
    // 40 KiB: too little for the medium stage, more than the small stage's
    // 26; left alone, those blocks would keep their old data.
    MemoryVolume v(40 * 1024 + 500);
    const FillOutcome out = run(v, 2);
    EXPECT_EQ(v.commits, repeat(1026, 2 * 37)); // down to under 4,000 bytes
    EXPECT_EQ(v.created.size(), 2);
    EXPECT_TRUE(v.files.isEmpty());
    EXPECT_TRUE(out.completed);
    EXPECT_EQ(view.percents.last(), "100 %");

    // Exactly 800 KiB after a large batch goes to the medium stage.
    MemoryVolume w(2'459'500);
    view = {};
    run(w, 1);
    std::uint64_t written = 0;
    for (auto c : w.commits)
        written += c;
    EXPECT_GT(written, w.capacity - 4000);
}

TEST_F(FillStages, PassCountsPatternsPausesAndTheWindowAroundThem)
{
    for (const int passes : {engine::freeSpacePasses(1), engine::freeSpacePasses(2)}) {
        MemoryVolume v(3'000'000);
        view = {};
        clock.pausedMs = 0;
        errorFlag = 1; // left from an earlier wipe
        patterns = 7;
        level = passes == 12 ? 1 : 2;
        const FillOutcome out = run(v, passes);
        EXPECT_TRUE(out.completed);
        EXPECT_EQ(errorFlag, 0);
        EXPECT_EQ(patterns, passes); // zeros, ones, a letter, random: from the start
        EXPECT_EQ(v.created.size(), passes);
        EXPECT_EQ(v.created.count("t:\\tmptxt1.txt"), passes);
        EXPECT_TRUE(v.files.isEmpty());
        EXPECT_EQ(view.maximum, passes * 2929);
        EXPECT_EQ(clock.pausedMs, passes * 7000 + 1000);
        EXPECT_EQ(view.controls, QList<bool>({false}));
        EXPECT_EQ(view.completeSelected, passes == 12);
        EXPECT_EQ(view.resets, 1);
        EXPECT_EQ(view.statuses.first(), "Wiping Free Space");
        EXPECT_EQ(view.statuses.last(), "Free Space Wipe Completed");
        EXPECT_TRUE(prompter.texts.isEmpty());
    }
    EXPECT_EQ(engine::driveFillPasses(1), 10);
    EXPECT_EQ(engine::driveFillPasses(2), 5);
}

TEST_F(FillStages, LastPassAloneShowsCompletingAndFinalizing)
{
    MemoryVolume v(10'000'000); // 6 medium and 8 small records per pass
    run(v, 3);
    EXPECT_EQ(view.statuses.count("Completing Wipe of Free Space"), 6);
    EXPECT_EQ(view.statuses.count("Finalizing Free Space Wipe"), 8);
    EXPECT_EQ(view.statuses[1], "Completing Wipe of Free Space");
}

TEST_F(FillStages, DiskFullMidBatchGoesOnInTheNextFileThenWarns)
{
    MemoryVolume v(7'000'000);
    v.phantomFree = 7'000'000; // the drive reports space it cannot write
    const FillOutcome out = run(v, 1);
    EXPECT_EQ(v.diskFullErrors, 2); // the second, with no space gone, ends the pass
    EXPECT_EQ(v.created, QStringList({"t:\\tmptxt1.txt", "t:\\tmptxt2.txt"}));
    EXPECT_EQ(v.removed, v.created);
    EXPECT_TRUE(v.files.isEmpty());
    EXPECT_EQ(errorFlag, 1);
    EXPECT_TRUE(out.completed);
    EXPECT_TRUE(out.driveErrors);
    ASSERT_EQ(prompter.texts.size(), 2);
    EXPECT_EQ(prompter.texts[0], "The Wipe of all Free Space was completed for Drive T:\r\n\r\n"
                                 "However, errors were encountered that may indicated your drive is failing\r\n"
                                 "You may want to consider replacing your Drive T: as soon as possible");
    // What it still reported free was never written: not a full success.
    EXPECT_TRUE(prompter.texts[1].contains("could not be written"));
    EXPECT_TRUE(out.spaceMissed);
}

TEST_F(FillStages, FileSizeLimitRollsOverWithoutAWarning)
{
    MemoryVolume v(10'000'000);
    v.fileLimit = 4'000'000;
    const FillOutcome out = run(v, 1);
    EXPECT_GE(v.created.size(), 3);
    EXPECT_EQ(v.removed, v.created);
    EXPECT_EQ(errorFlag, 0);
    EXPECT_FALSE(out.driveErrors);
    EXPECT_TRUE(prompter.texts.isEmpty());
    EXPECT_EQ(v.diskFullErrors, 0);
}

TEST_F(FillStages, CompressingDriveIsBoundedAndReported)
{
    MemoryVolume v(1'000'000);
    v.storedPerByte = 0.001;
    const FillOutcome out = run(v, 1);
    std::uint64_t written = 0;
    for (auto c : v.commits)
        written += c;
    EXPECT_GT(written, 976u * 1024 + (64u << 20));
    EXPECT_LT(written, 976u * 1024 + (64u << 20) + 7'000'000);
    EXPECT_TRUE(out.spaceMissed);
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].contains("compressed"));
    EXPECT_TRUE(v.files.isEmpty());
}

TEST_F(FillStages, ExistingFillFileNameIsLeftAlone)
{
    MemoryVolume v(2'000'000);
    v.files["t:\\tmptxt1.txt"] = 123; // the user's own file
    run(v, 2);
    EXPECT_EQ(v.files.value("t:\\tmptxt1.txt"), 123u);
    EXPECT_EQ(v.files.size(), 1);
    EXPECT_FALSE(v.removed.contains("t:\\tmptxt1.txt"));
    EXPECT_EQ(v.created, QStringList({"t:\\tmptxt2.txt", "t:\\tmptxt2.txt"}));
}

TEST_F(FillStages, AnErrorEndsTheFillCleanlyWithItsNumber)
{
    MemoryVolume v(9'000'000);
    v.createError = platform::ErrPathFileAccess;
    FillOutcome out = run(v, 12);
    EXPECT_FALSE(out.completed);
    EXPECT_EQ(view.resets, 1);
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].startsWith("The Free Space Wipe of Drive T: stopped before it was complete.\r\n\r\n"
                                             "Error 75: Path/File access error"))
        << prompter.texts[0].toStdString();

    // An I/O error in the middle of a pass: its files go, the window comes back.
    MemoryVolume w(9'000'000);
    int commits = 0;
    w.onCommit = [&] {
        if (++commits == 2)
            throw platform::RunTimeError(platform::ErrDeviceIO, "t:\\tmptxt1.txt");
    };
    view = {};
    prompter.texts.clear();
    out = run(w, 12);
    EXPECT_FALSE(out.completed);
    EXPECT_TRUE(w.files.isEmpty());
    EXPECT_EQ(view.resets, 1);
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].contains("Error 57: Device I/O error"));
}

TEST_F(FillStages, EndingTheProgramMidFillDeletesTheFillFiles)
{
    MemoryVolume v(9'000'000);
    v.files["t:\\keep.txt"] = 10;
    int yields = 0;
    clock.onYield = [&] {
        if (++yields == 3) {
            platform::runEndOfProgramCleanups(); // as the confirmed close does
            throw Ended{};
        }
    };
    EXPECT_THROW(run(v, 12), Ended);
    EXPECT_EQ(v.files.keys(), QStringList({"t:\\keep.txt"}));
    EXPECT_FALSE(v.open.value("t:\\tmptxt1.txt"));
}
