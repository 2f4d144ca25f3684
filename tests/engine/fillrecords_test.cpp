// What a free-space wipe leaves in the wipe records, and what it says when
// its last pass does not read back as written. Each test runs in a process
// of its own with an empty records folder (tests/support/test_main.cpp), so
// the newest record is the wipe's.
#include "app/console.h"
#include "records/store.h"
#include "support/fakes.h"
#include "support/fillfakes.h"
#include "support/volumes.h"

#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>

using platform::Verification;
using records::Outcome;
using testsupport::EnvGuard;

namespace {

records::WipeRecord newestRecord()
{
    const QList<records::WipeRecord> all = records::Store().all();
    return all.isEmpty() ? records::WipeRecord{} : all.first();
}

} // namespace

TEST(FillRecords, CompletedAndStoppedWipesSayHowTheyEnded)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 3);
    EnvGuard env("ZARVEX_DRIVES", "c=/;t=" + volume.folder());
    const struct {
        const char* what;
        std::function<void()> before, after;
        Outcome outcome;
        int passesDone;
        Verification verification;
        int error;
    } cases[] = {
        {"completed", [] {}, [] {}, Outcome::Completed, 2, Verification::Passed, 0},
        // Room for data, none for a fill file: stopped by a full drive.
        {"full drive",
         [&] {
             QFile own(volume.folder() + "/own.txt");
             ASSERT_TRUE(own.open(QIODevice::WriteOnly) && own.write("mine") == 4);
             ASSERT_EQ(testsupport::runCommand("mount", {"-o", "remount,nr_inodes=2", volume.folder()}), 0);
         },
         [&] { testsupport::runCommand("mount", {"-o", "remount,nr_inodes=1000", volume.folder()}); },
         Outcome::Stopped, 0, Verification::NotRun, 61},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.before();
        testsupport::FillHarness fill;
        fill.level = 2;
        const engine::FillOutcome out = fill.runFill(2);
        c.after();
        EXPECT_EQ(out.verification, c.verification);

        const records::WipeRecord r = newestRecord();
        EXPECT_EQ(r.process, records::ProcessKind::FreeSpace);
        EXPECT_EQ(r.level, "Short Wipe");
        EXPECT_EQ(r.outcome, c.outcome) << r.errorText.toStdString();
        EXPECT_EQ(r.passesDone, c.passesDone);
        EXPECT_EQ(r.passesPlanned, 2);
        EXPECT_EQ(r.verification, c.verification) << r.verificationDetail.toStdString();
        EXPECT_EQ(r.errorNumber, c.error);
        EXPECT_EQ(r.bytesWritten > 4'000'000, c.passesDone == 2) << r.bytesWritten;
        EXPECT_TRUE(r.ended.isValid() && r.started <= r.ended);
        EXPECT_EQ(r.drive.letter, "T:");
        EXPECT_EQ(r.drive.mountPoint, volume.folder());
        EXPECT_EQ(r.drive.fileSystem, "tmpfs");
        EXPECT_EQ(r.drive.sizeBytes, 3u << 20);
        EXPECT_FALSE(r.host.isEmpty() || r.user.isEmpty());
        EXPECT_EQ(r.version, ZARVEX_VERSION);
    }
    EXPECT_EQ(records::Store().all().size(), 2);
}

// A byte of the last pass's fill file changed behind the program's back
// (through another descriptor, flushed to the disk) before the read-back:
// the console says so after its usual texts and exits 1, and the record
// says the verification failed.
TEST(FillRecords, ACorruptedLastPassFailsTheConsoleAndTheRecord)
{
    VOLUME_OR_SKIP(volume, Ext4, 8);
    EnvGuard env("ZARVEX_DRIVES", "c=/;t=" + volume.folder());
    const QString fillFile = volume.folder() + "/tmptxt1.txt";
    testsupport::FastClock clock;
    int pausesWithFillFile = 0;
    clock.onPause = [&] {
        // Once in each pass: the first of the four pauses before deletion.
        if (QFileInfo::exists(fillFile) && pausesWithFillFile++ % 4 == 0) {
            ASSERT_TRUE(testsupport::changeByte(fillFile, 100));
        }
    };

    testing::internal::CaptureStdout();
    const int rc = app::runConsole({"free-space", "t:", "--short"}, {&platform::systemDrives(), nullptr, &clock});
    const QString out = QString::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_EQ(rc, 1) << out.toStdString();
    EXPECT_TRUE(out.contains("Free Space Wipe Completed\n"));
    EXPECT_TRUE(out.contains("The last pass over the free space of Drive T: did not read back from the drive as it "
                             "was written (tmptxt1.txt: byte 100 of "))
        << out.toStdString();
    EXPECT_TRUE(out.trimmed().endsWith("The drive may not keep what is written to it, so old data may still be in its "
                                       "free space."))
        << out.toStdString();
    EXPECT_EQ(pausesWithFillFile, 6 * 4);

    const records::WipeRecord r = newestRecord();
    EXPECT_EQ(r.outcome, Outcome::Completed);
    EXPECT_EQ(r.passesDone, 6);
    EXPECT_EQ(r.verification, Verification::Failed);
    EXPECT_TRUE(r.verificationDetail.startsWith("tmptxt1.txt: byte 100 of ")) << r.verificationDetail.toStdString();
}
