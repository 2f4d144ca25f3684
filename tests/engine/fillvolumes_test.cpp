// The free-space wipe on real small volumes, through the main window, the
// procedure and the command-line program. A fill writes until its drive is
// full, so t: is always a scratch volume of a few MiB and no fill targets c:.
#include "app/console.h"
#include "app/form1.h"
#include "session/settings.h"
#include "controls/drivelistbox.h"
#include "platform/fillfile.h"
#include "platform/reservedspace.h"
#include "platform/volumelock.h"
#include "platform/wipejournal.h"
#include "records/store.h"
#include "support/fillfakes.h"
#include "support/rawimage.h"
#include "support/volumes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utility>

using namespace testsupport;

namespace {

QString driveMap(const ScratchVolume& v)
{
    return "c=/;t=" + v.folder();
}

} // namespace

TEST(FreeSpaceWindow, WipesEachPassToTheEndAndRestoresTheWindow)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 4);
    EnvGuard drivesEnv("ZARVEX_DRIVES", driveMap(volume));
    FillHarness h; // for its services: drives, prompter, clock
    const struct {
        bool shortWipe;
        int passes;
        const char* systemRoot;
        QStringList says;
    } cases[] = {
        // Going back to the system drive, though it holds the program, is
        // no choice of the user's: nothing is said.
        {false, 12, "C:\\WINDOWS", {}},
        {true, 6, "T:\\WINDOWS", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.passes);
        EnvGuard root("SYSTEMROOT", c.systemRoot);
        session::settings() = session::ProcessSettings{};
        h.prompter.texts.clear();
        app::Form1 w({&h.drives, &h.prompter, &h.clock}, [] {});
        ASSERT_FALSE(w.fillTargetFactory); // the real disk, not a stand-in
        ASSERT_TRUE(w.Drive1->setDrive("t:"));
        w.Combo1->setCurrentIndex(3); // Security Wipe Free Space
        w.Combo1_click();
        (c.shortWipe ? w.Option7 : w.Option6)->click();
        w.Check1->setChecked(true);
        const std::uint64_t freeBefore = h.drives.freeBytes("t:\\");

        // What the disk and window looked like at the pauses while it ran.
        int pausesWithFillFile = 0;
        bool controlsDisabled = true;
        std::uint64_t mostFreeLeft = 0;
        // Cancel is the fill's Stop meanwhile.
        const std::initializer_list<QWidget*> controls{w.Command1, w.Command3, w.Drive1, w.Combo1, w.Option6, w.Option7};
        h.clock.onPause = [&] {
            if (fillFilesIn(volume.folder()) != QStringList{"tmptxt1.txt"})
                return;
            ++pausesWithFillFile;
            mostFreeLeft = std::max(mostFreeLeft, h.drives.freeBytes("t:\\"));
            for (QWidget* control : controls)
                controlsDisabled = controlsDisabled && !control->isEnabled();
            controlsDisabled = controlsDisabled && w.Command2->isEnabled() && w.Command2->text() == "&Stop";
        };
        w.Command1_Click();
        h.clock.onPause = nullptr;

        EXPECT_TRUE(w.lastFill.completed) << w.lastFill.message.toStdString();
        // Each pass: one fill file and no other, filled to within 4,000
        // bytes of the end, kept through the four pauses before it is deleted.
        EXPECT_EQ(pausesWithFillFile, c.passes * 4);
        EXPECT_TRUE(controlsDisabled);
        EXPECT_LT(mostFreeLeft, 4000u);
        EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty());
        EXPECT_EQ(h.drives.freeBytes("t:\\"), freeBefore);
        EXPECT_EQ(h.prompter.texts, c.says);
        // Its record: what was wiped, how, and that it read back as written.
        const records::WipeRecord r = records::Store().all().value(0);
        EXPECT_EQ(r.process, records::ProcessKind::FreeSpace);
        EXPECT_EQ(r.level, c.shortWipe ? "Short Wipe" : "Complete Wipe");
        EXPECT_EQ(r.outcome, records::Outcome::Completed) << r.errorText.toStdString();
        EXPECT_EQ(std::tuple(r.passesDone, r.passesPlanned, r.errorNumber), std::tuple(c.passes, c.passes, 0));
        EXPECT_EQ(r.verification, platform::Verification::Passed) << r.verificationDetail.toStdString();
        EXPECT_GT(r.bytesWritten, c.passes * (3u << 20));
        EXPECT_TRUE(r.ended.isValid() && r.started <= r.ended);
        EXPECT_EQ(std::tuple(r.drive.letter, r.drive.mountPoint, r.drive.fileSystem, r.drive.sizeBytes),
                  std::tuple(QString("T:"), volume.folder(), QString("tmpfs"), std::uint64_t{4} << 20));
        EXPECT_FALSE(r.host.isEmpty() || r.user.isEmpty());
        EXPECT_EQ(r.version, ZARVEX_VERSION);

        // The window is ready for the next job.
        EXPECT_EQ(w.Text1->text(), "Free Space Wipe Completed");
        EXPECT_EQ(w.Text4->text(), "100 %");
        for (QWidget* control : controls)
            EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
        EXPECT_EQ(w.Combo1->currentText(), "SELECT ONE PROCESS TYPE");
        EXPECT_TRUE(w.Check1->isEnabled());
        EXPECT_FALSE(w.Check1->isChecked());
        EXPECT_EQ(w.Drive1->drive().left(2), session::settings().SystemDrive.left(2).toLower());
        EXPECT_EQ(w.ProcessRunning, 0);
    }
}

// A file of the user's that happens to carry a fill file's name is never
// opened, truncated or deleted; the wipe goes on under the next name.
TEST(FillVolumes, UsersOwnTmptxtFileSurvivesByteForByte)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 3);
    EnvGuard env("ZARVEX_DRIVES", driveMap(volume));
    const QByteArray content = repeated(randomPattern(29), 10'000);
    const QString own = volume.folder() + "/tmptxt1.txt";
    ASSERT_TRUE(writeFile(own, content));

    FillHarness fill;
    QStringList seenDuringPause;
    fill.clock.onPause = [&] {
        if (seenDuringPause.isEmpty())
            seenDuringPause = fillFilesIn(volume.folder());
    };
    EXPECT_TRUE(fill.runFill(3).completed);
    EXPECT_TRUE(fill.prompter.texts.isEmpty()) << fill.prompter.texts.join("|").toStdString();
    EXPECT_EQ(seenDuringPause, QStringList({"tmptxt1.txt", "tmptxt2.txt"}));
    EXPECT_EQ(fillFilesIn(volume.folder()), QStringList{"tmptxt1.txt"});
    EXPECT_EQ(readText(own), QString::fromLatin1(content).trimmed());
}

// ext4 keeps clusters even root cannot write; the wipe frees them while it
// runs and gives them back whether it completes or fails.
TEST(FillVolumes, Ext4ReserveIsReleasedForTheFillAndPutBackAfter)
{
    VOLUME_OR_SKIP(volume, Ext4, 16);
    EnvGuard env("ZARVEX_DRIVES", driveMap(volume));
    const QString knob = platform::ReservedSpaceRelease::reserveKnob(volume.folder());
    ASSERT_FALSE(knob.isEmpty()) << "no reserved_clusters for " << volume.folder().toStdString();
    const QString before = readText(knob);
    ASSERT_TRUE(!before.isEmpty() && before != "0") << before.toStdString();
    {
        FillHarness fill;
        QString during;
        fill.clock.onPause = [&] {
            if (during.isEmpty())
                during = readText(knob);
        };
        EXPECT_TRUE(fill.runFill(1).completed);
        // Nothing said out of reach or failing; the loop device takes the trim.
        EXPECT_EQ(fill.prompter.texts, (QStringList{engine::trimmedMessage("t:"), engine::journalMessage("t:", true)}));
        EXPECT_EQ(during, "0");
        EXPECT_EQ(readText(knob), before);
    }
    {
        // The helper killed mid-fill: the reserve stays at 0, which the end
        // says (never a plain success), and the journal keeps the setting
        // until the next start puts it back.
        FillHarness fill;
        bool killed = false;
        fill.clock.onPause = [&] {
            if (!std::exchange(killed, true))
                runCommand("pkill", {"-9", "-f", "--", "--release-reserve"});
        };
        const engine::FillOutcome outcome = fill.runFill(1);
        EXPECT_TRUE(killed && outcome.completed && outcome.spaceMissed);
        EXPECT_TRUE(fill.prompter.texts.join('|').contains("could not be put back")) << fill.prompter.texts.join('|').toStdString();
        EXPECT_EQ(readText(knob), "0");
    }
    EXPECT_TRUE(platform::repairInterruptedWipes().contains("put back the space the file system keeps in reserve"));
    EXPECT_EQ(readText(knob), before);
    // A volume that cannot be written: the first fill file cannot be made.
    QString out;
    ASSERT_EQ(runCommand("mount", {"-o", "remount,ro", volume.folder()}, &out), 0) << out.toStdString();
    FillHarness fill;
    EXPECT_FALSE(fill.runFill(1).completed);
    ASSERT_EQ(fill.prompter.texts.size(), 1);
    EXPECT_TRUE(fill.prompter.texts[0].startsWith("The Free Space Wipe of Drive T: stopped before it was complete."
                                                  "\r\n\r\nError 75: Path/File access error"));
    EXPECT_EQ(readText(knob), before);
}

// Deleted files' names: in the free space (a deleted folder's blocks), in
// the slack of folders in use, in the ext4 journal and in NTFS's unused
// index blocks. After a wipe (almost) none is left in the raw image, in
// UTF-8 or in UTF-16.
TEST(FillVolumes, NoDeletedFileNameIsLeftInTheRawImage)
{
    for (const auto kind : {ScratchVolume::Kind::Ext4, ScratchVolume::Kind::Ntfs}) {
        SCOPED_TRACE(kind == ScratchVolume::Kind::Ntfs ? "NTFS" : "ext4");
        ScratchVolume volume(kind, 16);
        if (!volume.ok())
            GTEST_SKIP() << volume.skipReason().toStdString();
        EnvGuard env("ZARVEX_DRIVES", driveMap(volume));
        const QString mark = QStringLiteral("zqxdeletedname");
        QDir root(volume.folder());
        ASSERT_TRUE(root.mkpath("docs") && root.mkpath("gone"));
        // The root's index deep enough (on NTFS) to keep blocks of its own.
        for (int i = 0; i < 400; ++i) {
            const QString folder = i < 300 ? QString() : i < 350 ? QStringLiteral("docs/") : QStringLiteral("gone/");
            ASSERT_TRUE(writeFile(root.filePath(QStringLiteral("%1%2-letter-%3.docx").arg(folder, mark).arg(i)),
                                  QByteArray(40 + 37 * i, 'x')));
        }
        ::sync(); // the names reach the disk and its journal
        for (const QString& name : root.entryList({mark + "*"}, QDir::Files))
            ASSERT_TRUE(root.remove(name));
        ASSERT_TRUE(QDir(root.filePath("docs")).removeRecursively() && QDir(root.filePath("gone")).removeRecursively());
        const QByteArray wide(reinterpret_cast<const char*>(mark.utf16()), mark.size() * 2);
        auto names = [&] {
            return testsupport::countInFile(volume.image(), mark.toUtf8()) + testsupport::countInFile(volume.image(), wide);
        };
        ASSERT_TRUE(volume.unmount());
        ASSERT_GT(names(), 0);
        ASSERT_TRUE(volume.remount());
        FillHarness fill;
        EXPECT_TRUE(fill.runFill(1).completed);
        ASSERT_TRUE(volume.unmount());
        // NTFS: the wipe's names (tmptxt...) reach no block of the root's
        // index that holds only names sorting before them ($MFT ... "."):
        // past the last entry of the first block, one deleted name stays.
        EXPECT_LE(names(), kind == ScratchVolume::Kind::Ntfs ? 1 : 0) << fill.prompter.texts.join('|').toStdString();
    }
}

// Faults of real machines, through the real procedure: a quota that stops
// each pass, a second wipe of the same drive, the fill files of an earlier
// wipe. Nothing is called complete that was not, and no file but the
// wipe's own is deleted.
TEST(FillVolumes, QuotaSecondWipeAndLeftoversAreNeverCalledComplete)
{
    const struct {
        const char* what;
        ScratchVolume::Kind kind;
        int sizeMiB;
        std::function<void(const QString& folder, std::unique_ptr<platform::VolumeLock>& held)> setUp;
        bool answer; // to the question about fill files left before
        bool completed, spaceMissed;
        QString said;         // in the last message
        bool tmptxt1Stays;    // a file of that name is there after the wipe
    } cases[] = {
        {"a btrfs quota", ScratchVolume::Kind::Btrfs, 160,
         [](const QString& folder, auto&) {
             ASSERT_EQ(runCommand("btrfs", {"quota", "enable", folder}), 0);
             ASSERT_EQ(runCommand("btrfs", {"qgroup", "limit", "24M", folder}), 0);
         },
         false, true, true, "a disk quota limits how much this user may write", false},
        {"a second wipe of the drive", ScratchVolume::Kind::Tmpfs, 4,
         [](const QString& folder, auto& held) {
             QString why;
             held = platform::VolumeLock::take(folder, &why);
             ASSERT_TRUE(held) << why.toStdString();
         },
         false, false, false, "another wipe of this drive is running (process", false},
        {"fill files left, kept", ScratchVolume::Kind::Tmpfs, 4,
         [](const QString& folder, auto&) {
             auto f = platform::FillFile::createExclusive(folder + "/tmptxt1.txt", "an-earlier-wipe");
             const QByteArray data(1 << 20, 'L');
             f->append(data.constData(), std::size_t(data.size()));
             f->close();
         },
         false, false, false, "the fill files of an earlier wipe hold part of it", true},
        {"fill files left, deleted first", ScratchVolume::Kind::Tmpfs, 4,
         [](const QString& folder, auto&) {
             auto f = platform::FillFile::createExclusive(folder + "/tmptxt1.txt", "an-earlier-wipe");
             f->close();
             ASSERT_TRUE(writeFile(folder + "/tmptxt2.txt", "a user's own, unmarked"));
         },
         true, true, false, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchVolume volume(c.kind, c.sizeMiB);
        if (!volume.ok())
            GTEST_SKIP() << volume.skipReason().toStdString();
        EnvGuard env("ZARVEX_DRIVES", driveMap(volume));
        std::unique_ptr<platform::VolumeLock> held;
        c.setUp(volume.folder(), held);
        FillHarness fill;
        fill.prompter.answer(c.answer);
        const engine::FillOutcome out = fill.runFill(1);
        EXPECT_EQ(out.completed, c.completed) << fill.prompter.texts.join('|').toStdString();
        EXPECT_EQ(out.spaceMissed, c.spaceMissed);
        EXPECT_TRUE(out.message.contains(c.said)) << out.message.toStdString();
        EXPECT_FALSE(out.driveErrors);
        // A left fill file goes only when it is marked and the user said so;
        // a user's own file of such a name always stays.
        EXPECT_EQ(QFile::exists(volume.folder() + "/tmptxt1.txt"), c.tmptxt1Stays);
        EXPECT_TRUE(platform::fillLeftovers(volume.folder()).empty() || c.tmptxt1Stays);
        if (QFile::exists(volume.folder() + "/tmptxt2.txt")) {
            EXPECT_EQ(readText(volume.folder() + "/tmptxt2.txt"), "a user's own, unmarked");
        }
    }
}

// A letter whose folder is a folder on a volume, not the volume itself: the
// volume that would really fill is named and nothing is written on No.
TEST(FillVolumeChecks, SubfolderLetterNamesTheRealVolumeAndNoWritesNothing)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 3);
    const QString sub = volume.folder() + "/sub";
    ASSERT_TRUE(QDir().mkpath(sub));
    EnvGuard env("ZARVEX_DRIVES", "c=/;d=" + volume.folder() + ";t=" + sub);
    const QString question = "T: [" + sub + "] is not a drive of its own: it is a folder on D: [" + volume.folder() +
                             "]. Wipe the free space of D:?";

    session::settings() = session::ProcessSettings{};
    FillHarness no;
    app::Form1 w({&no.drives, &no.prompter, &no.clock}, [] {});
    const std::uint64_t freeBefore = no.drives.freeBytes("d:\\");
    ASSERT_TRUE(w.Drive1->setDrive("t:"));
    w.Combo1->setCurrentIndex(3); // Security Wipe Free Space
    w.Combo1_click();
    no.prompter.answer(false);
    w.Command1_Click();
    EXPECT_EQ(no.prompter.questions, QStringList{question});
    EXPECT_FALSE(w.lastFill.completed);
    EXPECT_EQ(no.drives.freeBytes("d:\\"), freeBefore);
    EXPECT_TRUE(w.Command1->isEnabled());

    // Yes: the volume that holds the folder is wiped, and left as it was.
    FillHarness yes;
    yes.prompter.answer(true);
    EXPECT_TRUE(yes.runFill(1).completed);
    EXPECT_EQ(yes.prompter.texts, QStringList{question});
    EXPECT_TRUE(fillFilesIn(sub).isEmpty());
    EXPECT_EQ(yes.drives.freeBytes("d:\\"), freeBefore);
}

// Whatever stops a wipe before it writes says why in words that fit: a full
// drive is not called failing, a drive out of inodes is not called full, and
// fill files the wipe could not delete are named with where they are.
TEST(FillVolumeChecks, FullDriveNoInodesAndUndeletableFillFilesAreSaidAsTheyAre)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 1);
    EnvGuard env("ZARVEX_DRIVES", driveMap(volume));
    {
        // Full before the wipe, with a fill file of an interrupted one.
        QFile left(volume.folder() + "/tmptxt1.txt");
        ASSERT_TRUE(left.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (left.write(block) == block.size() && left.flush()) {
        }
        left.close();
        FillHarness fill;
        EXPECT_FALSE(fill.runFill(1).completed);
        EXPECT_EQ(fill.prompter.texts,
                  QStringList{"Drive T: has no free space to wipe.\r\n\r\nIts root holds fill files that an earlier "
                              "wipe left: tmptxt1.txt. Delete them, then wipe the free space again."});
        ASSERT_TRUE(QFile::remove(left.fileName()));
    }
    {
        // Room for data, none for another file; stopped, and recorded so.
        ASSERT_TRUE(writeFile(volume.folder() + "/own.txt", "mine"));
        ASSERT_EQ(runCommand("mount", {"-o", "remount,nr_inodes=2", volume.folder()}), 0);
        FillHarness fill;
        EXPECT_FALSE(fill.runFill(1).completed);
        runCommand("mount", {"-o", "remount,nr_inodes=1000", volume.folder()});
        EXPECT_EQ(fill.prompter.texts, QStringList{"The Free Space Wipe of Drive T: stopped before it was complete."
                                                   "\r\n\r\nThe file system of drive T: can create no more files "
                                                   "(it has no free inodes), although it has free space."});
        const records::WipeRecord r = records::Store().all().value(0);
        EXPECT_EQ(r.outcome, records::Outcome::Stopped);
        EXPECT_EQ(r.errorNumber, 61);
    }
    // Unmounted (lazily) while the pass's file waits to be deleted.
    FillHarness fill;
    const QString mountPoint = volume.folder();
    fill.clock.onPause = [&] { ASSERT_TRUE(fillFilesIn(mountPoint).isEmpty() || volume.unmount()); };
    EXPECT_FALSE(fill.runFill(1).completed);
    ASSERT_EQ(fill.prompter.texts.size(), 1);
    EXPECT_TRUE(fill.prompter.texts[0].contains("Error 68")) << fill.prompter.texts[0].toStdString();
    EXPECT_TRUE(fill.prompter.texts[0].endsWith("These fill files could not be deleted and are still at the root "
                                                "of the volume that was mounted at " + mountPoint +
                                                ": tmptxt1.txt. Delete them when that volume is mounted again."))
        << fill.prompter.texts[0].toStdString();
    EXPECT_TRUE(fillFilesIn(mountPoint).isEmpty()) << "written to the folder the volume left";
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
    FastClock clock;
    int pausesWithFillFile = 0;
    clock.onPause = [&] {
        // Once in each pass: the first of the four pauses before deletion.
        if (QFileInfo::exists(fillFile) && pausesWithFillFile++ % 4 == 0) {
            ASSERT_TRUE(changeByte(fillFile, 100));
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

    const records::WipeRecord r = records::Store().all().value(0);
    EXPECT_EQ(r.outcome, records::Outcome::Completed);
    EXPECT_EQ(r.passesDone, 6);
    EXPECT_EQ(r.verification, platform::Verification::Failed);
    EXPECT_TRUE(r.verificationDetail.startsWith("tmptxt1.txt: byte 100 of ")) << r.verificationDetail.toStdString();
}

// The command-line front end, run as the separate program it is.
namespace {

QString programPath()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/zarvexwipe";
    return QFileInfo::exists(beside) ? beside : QStringLiteral(ZARVEX_BUILD_BIN_DIR) + "/zarvexwipe";
}

void startProgram(QProcess& p, const QStringList& args, const QString& drivesMap)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZARVEX_DRIVES", drivesMap);
    p.setProcessEnvironment(env);
    p.start(programPath(), args);
}

struct Finished {
    int code = -1;
    QString out, err;
};

Finished runProgram(const QStringList& args, const QString& drivesMap)
{
    QProcess p; // killed as it goes, if it has not finished
    startProgram(p, args, drivesMap);
    const bool finished = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit;
    return {finished ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// Starts a Complete free-space wipe of the volume and waits for data in
// its first fill file: the wipe has made it and put it in its journal.
bool startFill(QProcess& p, const ScratchVolume& volume)
{
    startProgram(p, {"free-space", "t:"}, driveMap(volume));
    QElapsedTimer waited;
    waited.start();
    while (QFileInfo(volume.folder() + "/tmptxt1.txt").size() == 0) {
        if (waited.elapsed() > 20000 || p.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(10);
    }
    return true;
}

class FillVolumesCommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFileInfo::exists(programPath()))
            GTEST_SKIP() << "zarvexwipe is not built: " << programPath().toStdString();
    }
};

} // namespace

TEST_F(FillVolumesCommandLine, QuickAnswersAndExitCodes)
{
    // No fill can start here, but only c: and an empty folder exist all the same.
    QTemporaryDir empty;
    const QString junk(500, u'x');
    const struct {
        QStringList args;
        int code;
        const char* says;
    } cases[] = {
        {{"free-space", "q:"}, 1, "There is no drive Q:"},
        {{"bogus"}, 2, "unknown command: bogus"},
        {{"free-space"}, 2, "Usage:"},
        {{"--help"}, 0, "free-space"},
        // Each option once; every command explains itself; long junk is cut.
        {{"drive", "t:", "--fs", "ntfs", "--fs", "fat", "--yes"}, 2, "--fs may be given once"},
        {{"free-space", "t:", "--short", "--short"}, 2, "--short may be given once"},
        {{"free-space", "--help"}, 0, "Usage: zarvexwipe free-space D: [--short] [--every-folder] [--yes]"},
        {{"drive", "t:", "--help"}, 0, "fills it (10 passes; 5 with --short)"},
        {{"--version"}, 0, "zarvexwipe 5.4.0.1"},
        {{"free-space", junk}, 2, "unexpected argument: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx..."},
    };
    for (const auto& c : cases) {
        const Finished f = runProgram(c.args, "c=/;t=" + empty.path());
        SCOPED_TRACE((f.out + f.err).toStdString());
        EXPECT_EQ(f.code, c.code) << c.args.join(' ').left(80).toStdString();
        EXPECT_TRUE((c.code == 2 ? f.err : f.out).contains(c.says));
        EXPECT_FALSE(f.err.contains(junk));
    }
}

// The console refuses a letter that is only a folder unless --yes is given,
// and refuses the boot drive before it says it is wiping anything.
TEST_F(FillVolumesCommandLine, RefusesBeforeItAnnounces)
{
    VOLUME_OR_SKIP(volume, Ext4, 8);
    const QString sub = volume.folder() + "/sub";
    ASSERT_TRUE(QDir().mkpath(sub));
    Finished f = runProgram({"free-space", "t:", "--short"}, "c=/;t=" + sub);
    EXPECT_EQ(f.code, 1);
    EXPECT_TRUE(f.out.contains("is not a drive of its own") &&
                f.out.contains("[answered No: give --yes to answer Yes]")) << f.out.toStdString();
    EXPECT_TRUE(fillFilesIn(sub).isEmpty());

    EnvGuard root("SYSTEMROOT", "C:\\WINDOWS");
    f = runProgram({"drive", "c:", "--fs", "ntfs", "--yes"}, "c=" + volume.folder());
    EXPECT_EQ(f.code, 1);
    EXPECT_TRUE(f.out.startsWith("You CAN NOT FORMAT the Primary Boot Drive with this program")) << f.out.toStdString();
    EXPECT_FALSE(f.out.contains("Wiping")) << f.out.toStdString();
}

// Stopped by a kill request in the middle of a wipe, the program leaves no
// fill file behind.
TEST_F(FillVolumesCommandLine, TerminationMidWipeDeletesTheFillFile)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 3);
    QProcess p; // goes before the volume does
    ASSERT_TRUE(startFill(p, volume));
    p.terminate(); // SIGTERM
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(std::pair(p.exitStatus(), p.exitCode()), std::pair(QProcess::NormalExit, 128 + 15)); // SIGTERM's code
    EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty()) << fillFilesIn(volume.folder()).join(",").toStdString();
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains("Wiping the free space of drive T:")) << out.toStdString();
    // Its record was never completed: it reads as interrupted.
    const QList<records::WipeRecord> kept = records::Store().all();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].outcome, records::Outcome::Interrupted);
    EXPECT_EQ(kept[0].passesPlanned, 12);
}

// A wipe killed outright leaves its fill file and the ext4 reserve at 0; the
// next start of the program puts both right, and never touches a file of the
// user's that took the fill file's name meanwhile.
TEST_F(FillVolumesCommandLine, KilledWipeIsRepairedAtTheNextStart)
{
    VOLUME_OR_SKIP(volume, Ext4, 32);
    const QString knob = platform::ReservedSpaceRelease::reserveKnob(volume.folder());
    ASSERT_FALSE(knob.isEmpty());
    const QString reserve = readText(knob);
    const QString fillFile = volume.folder() + "/tmptxt1.txt";
    auto killMidFill = [&] {
        QProcess p;
        ASSERT_TRUE(startFill(p, volume));
        p.kill(); // SIGKILL: nothing of the program's own clean-up runs
        ASSERT_TRUE(p.waitForFinished(10000));
        ASSERT_TRUE(QFileInfo::exists(fillFile));
    };

    killMidFill();
    Finished f = runProgram({"--version"}, driveMap(volume));
    EXPECT_TRUE(f.out.contains("has been repaired")) << f.out.toStdString();
    EXPECT_TRUE(f.out.contains("deleted the fill files tmptxt1.txt")) << f.out.toStdString();
    EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty());
    EXPECT_EQ(readText(knob), reserve);

    killMidFill();
    ASSERT_TRUE(QFile::remove(fillFile));
    ASSERT_TRUE(writeFile(fillFile, "mine"));
    f = runProgram({"--version"}, driveMap(volume));
    EXPECT_TRUE(f.out.contains("left alone tmptxt1.txt")) << f.out.toStdString();
    EXPECT_EQ(readText(knob), reserve);
    EXPECT_EQ(readText(fillFile), "mine");
    // Repaired once is repaired for good.
    EXPECT_FALSE(runProgram({"--version"}, driveMap(volume)).out.contains("repaired"));
}

// Without root and without a way to ask for the password (no polkit agent,
// or no pkexec at all), ext4's reserve stays: the reason is said before
// anything is written, and without a Yes nothing is.
TEST_F(FillVolumesCommandLine, AReserveThatCannotBeReleasedIsSaidBeforeAnythingIsWritten)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        GTEST_SKIP() << "setpriv (util-linux) is missing";
    VOLUME_OR_SKIP(volume, Ext4, 16);
    const QString knob = platform::ReservedSpaceRelease::reserveKnob(volume.folder());
    const QString reserve = readText(knob);
    QTemporaryDir state; // the user's own state folder
    // nobody must reach the volume through the test's own folders.
    for (QString up = QFileInfo(volume.folder()).absolutePath(); up != "/" && up != "/tmp";
         up = QFileInfo(up).absolutePath())
        ASSERT_TRUE(QFile::setPermissions(up, QFile::permissions(up) | QFileDevice::ExeOther));
    for (const QString& folder : {volume.folder(), state.path()})
        ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOther | QFileDevice::WriteOther |
                                                      QFileDevice::ExeOther | QFileDevice::ReadOwner |
                                                      QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZARVEX_DRIVES", driveMap(volume));
    env.insert("XDG_STATE_HOME", state.path());
    env.insert("PATH", "/usr/bin:/bin"); // pkexec, where it is installed, asks no one here
    p.setProcessEnvironment(env);
    p.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", programPath(), "free-space", "t:", "--short"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains("The space the file system of drive T: keeps in reserve could not be released for the "
                             "wipe: ")) << out.toStdString();
    EXPECT_TRUE(out.contains("[answered No: give --yes to answer Yes]\nThe free space of drive T: was not wiped: "
                             "nothing was written.")) << out.toStdString();
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty());
    EXPECT_EQ(readText(knob), reserve);
}
