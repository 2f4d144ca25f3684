#include "drives/driveinfo.h"
#include "support/fakes.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace drives;
using testsupport::FakeDrives;
using testsupport::FastClock;
using testsupport::ScriptedPrompter;

TEST(ProbeDriveSpace, CutsToWholeThousandsThenKiBAndZeroOnFailure)
{
    EXPECT_EQ(FreeSpaceKBFromBytes(1'000'000), 976);
    EXPECT_EQ(FreeSpaceKBFromBytes(2'047'999), 1999);
    EXPECT_EQ(FreeSpaceKBFromBytes(2'048'000), 2000);
    EXPECT_EQ(FreeSpaceKBFromBytes(2'048'999), 2000);
    EXPECT_EQ(FreeSpaceKBFromBytes(1'023), 0);
    EXPECT_EQ(FreeSpaceKBFromBytes(5'000'000'000'000ull), 4'882'812'500);

    // Through the drive letter; 0 when the drive cannot be asked.
    QTemporaryDir dir;
    testsupport::EnvGuard env("ZARVEX_DRIVES", "c=/;t=" + dir.path());
    FakeDrives d;
    d.free[u't'] = 2'048'999;
    EXPECT_EQ(ProbeDriveSpace("t: [" + dir.path() + "]", d), 2000);
    EXPECT_EQ(ProbeDriveSpace("T:\\", d), 2000);
    EXPECT_EQ(ProbeDriveSpace("q:\\", d), 0); // no such drive
}

class ShowDriveInfoTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    testsupport::EnvGuard env{"ZARVEX_DRIVES", "c=/;r=" + dir.path() + ";n=" + dir.path() +
                                                   ";x=" + dir.path() + ";g=" + dir.path() + "/gone"};
    FakeDrives d;
    ScriptedPrompter p;
    std::int16_t category = 0;
    std::int16_t known = 0;
    void SetUp() override
    {
        d.types[u'r'] = platform::DriveRemovable;
        d.types[u'n'] = platform::DriveNetwork;
        d.types[u'x'] = platform::DriveCdRom;
        d.types[u'c'] = platform::DriveFixed;
    }
};

TEST_F(ShowDriveInfoTest, ClassifiesOncePerSelection)
{
    ShowDriveInfo("r:\\", {category, known}, d, p);
    EXPECT_EQ(category, CategoryRemovable);
    EXPECT_EQ(known, 1);
    EXPECT_TRUE(p.texts.isEmpty());
    // Known already: a fixed drive does not change it until the flag is cleared.
    ShowDriveInfo("c:\\", {category, known}, d, p);
    EXPECT_EQ(category, CategoryRemovable);
    known = 0;
    // A network drive is classified as nothing new.
    ShowDriveInfo("n:\\", {category, known}, d, p);
    EXPECT_EQ(category, CategoryRemovable);
    EXPECT_EQ(known, 1);
}

TEST_F(ShowDriveInfoTest, CdDriveAlwaysGetsItsMessageAndNoReadinessCheck)
{
    known = 1;
    category = CategoryFixed;
    d.ready[u'x'] = false;
    ShowDriveInfo("x:", {category, known}, d, p);
    ShowDriveInfo("x:", {category, known}, d, p);
    EXPECT_EQ(category, CategoryCd);
    EXPECT_EQ(p.texts, QStringList({kCdMessage, kCdMessage}));
    EXPECT_EQ(d.readyQueries, 0);
}

TEST_F(ShowDriveInfoTest, NotReadyAndMissingDrives)
{
    category = CategoryFixed;
    ShowDriveInfo("g:\\", {category, known}, d, p); // folder missing
    ShowDriveInfo("q:\\", {category, known}, d, p); // no such letter
    EXPECT_EQ(p.texts, QStringList({kNotReadyMessage, kNotReadyMessage}));
    EXPECT_EQ(category, CategoryFixed);
    EXPECT_EQ(known, 1);
}

TEST_F(ShowDriveInfoTest, ShowDriveInfo2WaitsBoundedAndQuietly)
{
    FastClock clock;
    int pauses = 0;
    d.ready[u'r'] = false;
    clock.onPause = [&] {
        if (++pauses == 6)
            d.ready[u'r'] = true; // the user inserts the disc
    };
    EXPECT_TRUE(ShowDriveInfo2("r:\\", {category, known}, d, p, clock));
    EXPECT_EQ(pauses, 6);
    EXPECT_EQ(clock.pausedMs, 3000); // checked about twice a second
    EXPECT_TRUE(p.texts.isEmpty());
    EXPECT_EQ(category, CategoryRemovable);

    // A drive that never comes back: gives up after a minute.
    d.ready[u'r'] = false;
    clock.onPause = nullptr;
    clock.pausedMs = 0;
    EXPECT_FALSE(ShowDriveInfo2("r:\\", {category, known}, d, p, clock));
    EXPECT_EQ(clock.pausedMs, 60000);
    EXPECT_GT(clock.yields, 100); // the window stayed responsive
    EXPECT_TRUE(p.texts.isEmpty());
}
