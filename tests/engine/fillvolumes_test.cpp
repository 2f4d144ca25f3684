// The free-space wipe on real small volumes, through the main window, the
// procedure and the command-line program. A fill writes until its drive is
// full, so t: is always a scratch volume of a few MiB and no fill targets c:.
#include "app/form1.h"
#include "app/settings.h"
#include "controls/drivelistbox.h"
#include "engine/freespacewipe.h"
#include "platform/reservedspace.h"
#include "records/store.h"
#include "support/fakes.h"
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
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

using testsupport::EnvGuard;
using testsupport::ScratchVolume;


namespace {

const QString kProgramDriveWarning = "You CAN NOT FORMAT the drive this program is installed on";

QStringList fillFilesIn(const QString& folder)
{
    return QDir(folder).entryList({"tmptxt*.txt"}, QDir::Files | QDir::Hidden | QDir::System);
}

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).trimmed() : QString();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush();
}

QString driveMap(const ScratchVolume& v)
{
    return "c=/;t=" + v.folder();
}

// A fill straight through the procedure, on the real disk behind t:.
struct DirectFill : testsupport::FillHarness {
    engine::FillOutcome run(int passes) { return runFill(passes); }
    // Ran every pass without a word to the user but, where the drive took
    // it, that its free space was trimmed.
    void expectQuietCompletion(const engine::FillOutcome& out) const
    {
        EXPECT_TRUE(out.completed) << out.message.toStdString();
        EXPECT_FALSE(out.driveErrors);
        QStringList said = prompter.texts;
        said.removeAll(engine::trimmedMessage("t:"));
        EXPECT_TRUE(said.isEmpty()) << said.join("|").toStdString();
    }
};

} // namespace

class FreeSpaceWindow : public ::testing::Test {
protected:
    ScratchVolume volume{ScratchVolume::Kind::Tmpfs, 4};
    std::optional<EnvGuard> drivesEnv, rootEnv;
    testsupport::FakeDrives drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;

    void SetUp() override
    {
        if (!volume.ok())
            GTEST_SKIP() << volume.skipReason().toStdString();
        drivesEnv.emplace("ZARVEX_DRIVES", driveMap(volume));
        app::settings() = app::ProcessSettings{};
    }

    void wipeThroughWindow(bool shortWipe, int passes)
    {
        app::Form1 w({&drives, &prompter, &clock}, [] {});
        ASSERT_FALSE(w.fillTargetFactory); // the real disk, not a stand-in
        ASSERT_TRUE(w.Drive1->setDrive("t:"));
        w.Combo1->setCurrentIndex(3); // Security Wipe Free Space
        w.Combo1_click();
        (shortWipe ? w.Option7 : w.Option6)->click();
        w.Check1->setChecked(true);
        const std::uint64_t freeBefore = drives.freeBytes("t:\\");
        ASSERT_GT(freeBefore, 3u << 20);

        // What the disk and window looked like at the pauses while it ran.
        int pausesWithFillFile = 0, pausesWithOtherFiles = 0;
        bool controlsDisabled = true;
        std::uint64_t mostFreeLeft = 0;
        clock.onPause = [&] {
            const QStringList files = fillFilesIn(volume.folder());
            if (files.isEmpty())
                return;
            if (files != QStringList{"tmptxt1.txt"}) {
                ++pausesWithOtherFiles;
                return;
            }
            ++pausesWithFillFile;
            mostFreeLeft = std::max(mostFreeLeft, drives.freeBytes("t:\\"));
            for (QWidget* c : std::initializer_list<QWidget*>{w.Command1, w.Command2, w.Command3, w.Drive1, w.Combo1,
                                                              w.Option6, w.Option7})
                controlsDisabled = controlsDisabled && !c->isEnabled();
        };
        w.Command1_Click();
        clock.onPause = nullptr;

        EXPECT_TRUE(w.lastFill.completed) << w.lastFill.message.toStdString();
        EXPECT_FALSE(w.lastFill.driveErrors);
        EXPECT_FALSE(w.lastFill.spaceMissed);
        EXPECT_EQ(w.PatternCallCount, passes);
        // Each pass: one fill file, filled to within 4,000 bytes of the end,
        // kept through the four pauses before it is deleted.
        EXPECT_EQ(pausesWithFillFile, passes * 4);
        EXPECT_EQ(pausesWithOtherFiles, 0);
        EXPECT_TRUE(controlsDisabled);
        EXPECT_LT(mostFreeLeft, 4000u);
        EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty());
        EXPECT_EQ(drives.freeBytes("t:\\"), freeBefore);

        // The window is ready for the next job.
        EXPECT_EQ(w.Text1->text(), "Free Space Wipe Completed");
        EXPECT_EQ(w.Text4->text(), "100 %");
        for (QWidget* c : std::initializer_list<QWidget*>{w.Command1, w.Command2, w.Command3, w.Drive1, w.Combo1,
                                                          w.Option6, w.Option7, w.Check1})
            EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
        EXPECT_EQ(w.Combo1->currentText(), "SELECT ONE PROCESS TYPE");
        EXPECT_FALSE(w.Check1->isChecked());
        EXPECT_EQ(w.Drive1->drive().left(2), app::settings().SystemDrive.left(2).toLower());
        EXPECT_EQ(w.ProcessRunning, 0);
    }
};

TEST_F(FreeSpaceWindow, CompleteWipeRunsTwelveFullPassesAndRestoresTheWindow)
{
    rootEnv.emplace("SYSTEMROOT", "C:\\WINDOWS");
    wipeThroughWindow(false, 12);
    // Going back to the system drive, which holds the program, warns as any
    // change to that drive does; nothing else is said.
    EXPECT_EQ(prompter.texts, QStringList{kProgramDriveWarning});
}

TEST_F(FreeSpaceWindow, ShortWipeRunsSixPassesWithoutAnyMessage)
{
    rootEnv.emplace("SYSTEMROOT", "T:\\WINDOWS");
    wipeThroughWindow(true, 6);
    EXPECT_TRUE(prompter.texts.isEmpty()) << prompter.texts.join("|").toStdString();
}

// A file of the user's that happens to carry a fill file's name is never
// opened, truncated or deleted; the wipe goes on under the next name.
TEST(FillVolumes, UsersOwnTmptxtFileSurvivesByteForByte)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 3);
    EnvGuard env("ZARVEX_DRIVES", driveMap(volume));
    const QByteArray content = testsupport::repeated(testsupport::randomPattern(29), 10'000);
    const QString own = volume.folder() + "/tmptxt1.txt";
    ASSERT_TRUE(writeFile(own, content));

    DirectFill fill;
    QStringList seenDuringPause;
    fill.clock.onPause = [&] {
        if (seenDuringPause.isEmpty())
            seenDuringPause = fillFilesIn(volume.folder());
    };
    fill.expectQuietCompletion(fill.run(3));
    EXPECT_EQ(seenDuringPause, QStringList({"tmptxt1.txt", "tmptxt2.txt"}));
    EXPECT_EQ(fillFilesIn(volume.folder()), QStringList{"tmptxt1.txt"});
    QFile f(own);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == content);
}

// Deleted files' data must be gone from the raw image after the wipe.
class DeletedDataOnImage : public ::testing::TestWithParam<ScratchVolume::Kind> {};

TEST_P(DeletedDataOnImage, IsGoneAfterTheWipe)
{
    ScratchVolume volume(GetParam(), 24);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    EnvGuard env("ZARVEX_DRIVES", driveMap(volume));

    // Too large to live inside a file record: all of it lies in clusters.
    const QByteArray pattern = testsupport::randomPattern(32);
    const QByteArray needle = pattern.left(16);
    const QList<qsizetype> sizes{4096, 8192, 12'288 + 700, 65'536, 1 << 20};
    qint64 repeats = 0;
    for (int i = 0; i < sizes.size(); ++i) {
        ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/marker%1.bin").arg(i),
                              testsupport::repeated(pattern, sizes[i])));
        repeats += sizes[i] / pattern.size();
    }
    // The markers must be on the image before the wipe, or their absence
    // after it proves nothing.
    ASSERT_TRUE(volume.unmount());
    ASSERT_GE(testsupport::countInFile(volume.image(), needle), repeats);
    ASSERT_TRUE(volume.remount()) << volume.skipReason().toStdString();
    for (int i = 0; i < sizes.size(); ++i)
        ASSERT_TRUE(QFile::remove(volume.folder() + QStringLiteral("/marker%1.bin").arg(i)));

    DirectFill fill;
    fill.level = 2;
    std::uint64_t freeLeft = 0;
    fill.clock.onPause = [&] {
        if (!fillFilesIn(volume.folder()).isEmpty())
            freeLeft = std::max(freeLeft, fill.drives.freeBytes("t:\\"));
    };
    fill.expectQuietCompletion(fill.run(2));
    EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty());
    EXPECT_LT(freeLeft, 4000u) << "free bytes left while the fill file was full";

    ASSERT_TRUE(volume.unmount());
    EXPECT_EQ(testsupport::countInFile(volume.image(), needle), 0) << "marker still in the image";
    if (GetParam() == ScratchVolume::Kind::Ext4) {
        // The loop device passes the trim on: the image has holes where the fill was.
        EXPECT_TRUE(fill.prompter.texts.contains(engine::trimmedMessage("t:")));
        EXPECT_LT(testsupport::allocatedBytes(volume.image()), QFileInfo(volume.image()).size() / 2);
    }
}

INSTANTIATE_TEST_SUITE_P(FillVolumes, DeletedDataOnImage,
                         ::testing::Values(ScratchVolume::Kind::Ext4, ScratchVolume::Kind::Ntfs),
                         [](const auto& info) {
                             return std::string(info.param == ScratchVolume::Kind::Ext4 ? "Ext4" : "Ntfs");
                         });

// ext4 keeps clusters even root cannot write; the wipe frees them while it
// runs and gives them back whether it completes or fails.
TEST(FillVolumes, Ext4ReserveIsReleasedForTheFillAndPutBackAfter)
{
    VOLUME_OR_SKIP(volume, Ext4, 16);
    EnvGuard env("ZARVEX_DRIVES", driveMap(volume));
    const QString knob = platform::ReservedSpaceRelease::reserveKnob(volume.folder());
    ASSERT_FALSE(knob.isEmpty()) << "no reserved_clusters for " << volume.folder().toStdString();
    const QString before = readText(knob);
    ASSERT_FALSE(before.isEmpty());
    ASSERT_NE(before, "0");
    {
        DirectFill fill;
        QString during;
        fill.clock.onPause = [&] {
            if (during.isEmpty())
                during = readText(knob);
        };
        const engine::FillOutcome out = fill.run(1);
        fill.expectQuietCompletion(out);
        EXPECT_FALSE(out.spaceMissed);
        EXPECT_EQ(during, "0");
        EXPECT_EQ(readText(knob), before);
    }
    // A volume that cannot be written: the first fill file cannot be made.
    QString out;
    ASSERT_EQ(testsupport::runCommand("mount", {"-o", "remount,ro", volume.folder()}, &out), 0)
        << out.toStdString();
    DirectFill fill;
    EXPECT_FALSE(fill.run(1).completed);
    EXPECT_EQ(fill.view.resets, 1);
    ASSERT_EQ(fill.prompter.texts.size(), 1);
    EXPECT_TRUE(fill.prompter.texts[0].startsWith("The Free Space Wipe of Drive T: stopped before it was complete."))
        << fill.prompter.texts[0].toStdString();
    EXPECT_TRUE(fill.prompter.texts[0].contains("Error 75")) << fill.prompter.texts[0].toStdString();
    EXPECT_EQ(readText(knob), before);
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

    app::settings() = app::ProcessSettings{};
    testsupport::FakeDrives drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;
    app::Form1 w({&drives, &prompter, &clock}, [] {});
    const std::uint64_t freeBefore = drives.freeBytes("d:\\");
    ASSERT_TRUE(w.Drive1->setDrive("t:"));
    w.Combo1->setCurrentIndex(3); // Security Wipe Free Space
    w.Combo1_click();
    prompter.answer(false);
    w.Command1_Click();
    EXPECT_EQ(prompter.questions, QStringList{question});
    EXPECT_FALSE(w.lastFill.completed);
    EXPECT_EQ(clock.pausedMs, 0);
    EXPECT_EQ(drives.freeBytes("d:\\"), freeBefore);
    EXPECT_TRUE(w.Command1->isEnabled());

    // Yes: the volume that holds the folder is wiped, and left as it was.
    DirectFill fill;
    fill.prompter.answer(true);
    EXPECT_TRUE(fill.run(1).completed);
    EXPECT_EQ(fill.prompter.texts, QStringList{question});
    EXPECT_TRUE(fillFilesIn(sub).isEmpty());
    EXPECT_EQ(drives.freeBytes("d:\\"), freeBefore);
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
        DirectFill fill;
        const engine::FillOutcome out = fill.run(1);
        EXPECT_FALSE(out.completed);
        EXPECT_FALSE(out.driveErrors);
        EXPECT_EQ(fill.prompter.texts,
                  QStringList{"Drive T: has no free space to wipe.\r\n\r\nIts root holds fill files that an earlier "
                              "wipe left: tmptxt1.txt. Delete them, then wipe the free space again."});
        ASSERT_TRUE(QFile::remove(left.fileName()));
    }
    {
        // Room for data, none for another file.
        QString out;
        ASSERT_TRUE(writeFile(volume.folder() + "/own.txt", "mine"));
        ASSERT_EQ(testsupport::runCommand("mount", {"-o", "remount,nr_inodes=2", volume.folder()}, &out), 0)
            << out.toStdString();
        DirectFill fill;
        EXPECT_FALSE(fill.run(1).completed);
        ASSERT_EQ(fill.prompter.texts.size(), 1);
        EXPECT_TRUE(fill.prompter.texts[0].endsWith("The file system of drive T: can create no more files (it has no "
                                                    "free inodes), although it has free space."))
            << fill.prompter.texts[0].toStdString();
        testsupport::runCommand("mount", {"-o", "remount,nr_inodes=1000", volume.folder()});
    }
    {
        // Unmounted (lazily) while the pass's file waits to be deleted.
        DirectFill fill;
        const QString mountPoint = volume.folder();
        fill.clock.onPause = [&] {
            if (!fillFilesIn(mountPoint).isEmpty()) {
                ASSERT_TRUE(volume.unmount());
            }
        };
        EXPECT_FALSE(fill.run(1).completed);
        ASSERT_EQ(fill.prompter.texts.size(), 1);
        EXPECT_TRUE(fill.prompter.texts[0].contains("Error 68")) << fill.prompter.texts[0].toStdString();
        EXPECT_TRUE(fill.prompter.texts[0].endsWith("These fill files could not be deleted and are still at the root "
                                                    "of the volume that was mounted at " + mountPoint +
                                                    ": tmptxt1.txt. Delete them when that volume is mounted again."))
            << fill.prompter.texts[0].toStdString();
        EXPECT_TRUE(fillFilesIn(mountPoint).isEmpty()) << "written to the folder the volume left";
    }
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
    QProcess p;
    startProgram(p, args, drivesMap);
    if (!p.waitForStarted(10000) || !p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()), QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

TEST(FillVolumesCommandLine, QuickAnswersAndExitCodes)
{
    if (!QFileInfo::exists(programPath()))
        GTEST_SKIP() << "zarvexwipe is not built: " << programPath().toStdString();
    // No fill can start here, but only c: and an empty folder exist all the same.
    QTemporaryDir empty;
    const QString map = "c=/;t=" + empty.path();

    Finished f = runProgram({"free-space", "q:"}, map);
    EXPECT_EQ(f.code, 1) << f.out.toStdString() << f.err.toStdString();
    EXPECT_TRUE(f.out.contains("There is no drive Q:")) << f.out.toStdString();

    f = runProgram({"bogus"}, map);
    EXPECT_EQ(f.code, 2);
    EXPECT_TRUE(f.err.contains("unknown command: bogus")) << f.err.toStdString();
    EXPECT_TRUE(f.err.contains("Usage:")) << f.err.toStdString();

    f = runProgram({"free-space"}, map);
    EXPECT_EQ(f.code, 2);
    EXPECT_TRUE(f.err.contains("Usage:"));

    f = runProgram({"--help"}, map);
    EXPECT_EQ(f.code, 0);
    EXPECT_TRUE(f.out.contains("free-space")) << f.out.toStdString();
    EXPECT_TRUE(f.err.isEmpty()) << f.err.toStdString();

    // Each option once; every command explains itself; long junk is cut.
    const QString junk(500, u'x');
    const struct {
        QStringList args;
        int code;
        const char* says;
    } cases[] = {
        {{"drive", "t:", "--fs", "ntfs", "--fs", "fat", "--yes"}, 2, "--fs may be given once"},
        {{"free-space", "t:", "--short", "--short"}, 2, "--short may be given once"},
        {{"free-space", "--help"}, 0, "Usage: zarvexwipe free-space D: [--short] [--yes]"},
        {{"drive", "t:", "--help"}, 0, "fills it (10 passes; 5 with --short)"},
        {{"--version"}, 0, "zarvexwipe 5.4.0.1"},
        {{"free-space", junk}, 2, "unexpected argument: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx..."},
    };
    for (const auto& c : cases) {
        f = runProgram(c.args, map);
        EXPECT_EQ(f.code, c.code) << c.args.join(' ').left(80).toStdString();
        EXPECT_TRUE((f.out + f.err).contains(c.says)) << (f.out + f.err).toStdString();
        EXPECT_FALSE(f.err.contains(junk));
    }
}

// The console refuses a letter that is only a folder unless --yes is given,
// and refuses the boot drive before it says it is wiping anything.
TEST(FillVolumesCommandLine, RefusesBeforeItAnnounces)
{
    if (!QFileInfo::exists(programPath()))
        GTEST_SKIP() << "zarvexwipe is not built: " << programPath().toStdString();
    VOLUME_OR_SKIP(volume, Ext4, 8);
    const QString sub = volume.folder() + "/sub";
    ASSERT_TRUE(QDir().mkpath(sub));
    Finished f = runProgram({"free-space", "t:", "--short"}, "c=/;t=" + sub);
    EXPECT_EQ(f.code, 1);
    EXPECT_TRUE(f.out.contains("is not a drive of its own")) << f.out.toStdString();
    EXPECT_TRUE(f.out.contains("[answered No: give --yes to answer Yes]")) << f.out.toStdString();
    EXPECT_TRUE(fillFilesIn(sub).isEmpty());

    EnvGuard root("SYSTEMROOT", "C:\\WINDOWS");
    f = runProgram({"drive", "c:", "--fs", "ntfs", "--yes"}, "c=" + volume.folder());
    EXPECT_EQ(f.code, 1);
    EXPECT_TRUE(f.out.startsWith("You CAN NOT FORMAT the Primary Boot Drive with this program")) << f.out.toStdString();
    EXPECT_FALSE(f.out.contains("Wiping")) << f.out.toStdString();
}

// Stopped by a kill request in the middle of a wipe, the program leaves no
// fill file behind.
TEST(FillVolumesCommandLine, TerminationMidWipeDeletesTheFillFile)
{
    if (!QFileInfo::exists(programPath()))
        GTEST_SKIP() << "zarvexwipe is not built: " << programPath().toStdString();
    VOLUME_OR_SKIP(volume, Tmpfs, 3);
    QProcess p; // goes before the volume does
    startProgram(p, {"free-space", "t:"}, driveMap(volume));
    ASSERT_TRUE(p.waitForStarted(10000));

    QElapsedTimer waited;
    waited.start();
    while (!QFileInfo::exists(volume.folder() + "/tmptxt1.txt")) {
        ASSERT_TRUE(waited.elapsed() < 20000 && p.state() == QProcess::Running)
            << "no fill file appeared; output: " << p.readAll().toStdString();
        QThread::msleep(20);
    }
    p.terminate(); // SIGTERM
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 128 + 15);
    EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty()) << fillFilesIn(volume.folder()).join(",").toStdString();
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains("Wiping the free space of drive T:")) << out.toStdString();
    // Its record was never completed: it reads as interrupted.
    const QList<records::WipeRecord> kept = records::Store().all();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].outcome, records::Outcome::Interrupted);
    EXPECT_FALSE(kept[0].ended.isValid());
    EXPECT_EQ(kept[0].passesDone, 0);
    EXPECT_EQ(kept[0].passesPlanned, 12);
}

// A wipe killed outright leaves its fill file and the ext4 reserve at 0; the
// next start of the program puts both right, and never touches a file of the
// user's that took the fill file's name meanwhile.
TEST(FillVolumesCommandLine, KilledWipeIsRepairedAtTheNextStart)
{
    if (!QFileInfo::exists(programPath()))
        GTEST_SKIP() << "zarvexwipe is not built: " << programPath().toStdString();
    VOLUME_OR_SKIP(volume, Ext4, 32);
    const QString knob = platform::ReservedSpaceRelease::reserveKnob(volume.folder());
    ASSERT_FALSE(knob.isEmpty());
    const QString reserve = readText(knob);
    const QString fillFile = volume.folder() + "/tmptxt1.txt";
    auto killMidFill = [&] {
        QProcess p;
        startProgram(p, {"free-space", "t:"}, driveMap(volume));
        ASSERT_TRUE(p.waitForStarted(10000));
        QElapsedTimer waited;
        waited.start();
        // Data in it: the wipe has made it and put it in its journal.
        while (QFileInfo(fillFile).size() == 0 && waited.elapsed() < 20000)
            QThread::msleep(10);
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
    EXPECT_EQ(readText(fillFile), "mine");
    EXPECT_EQ(readText(knob), reserve);
    // Repaired once is repaired for good.
    EXPECT_FALSE(runProgram({"--version"}, driveMap(volume)).out.contains("repaired"));
}
