// The free-space wipe on real small volumes: a tmpfs through the main
// window, ext4 and NTFS images whose raw bytes are searched afterwards, the
// ext4 reserve, and the command-line front end as a separate process.
//
// A fill writes until its drive is full, so every letter a fill can reach is
// mapped by ZARVEX_DRIVES to a scratch volume of a few MiB; c: is the only
// other drive and no fill ever targets it.
#include "app/form1.h"
#include "app/settings.h"
#include "controls/drivelistbox.h"
#include "engine/freespacewipe.h"
#include "platform/reservedspace.h"
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
#include <memory>
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
struct DirectFill {
    QString drive = "t:\\";
    std::int16_t level = 1;
    double freeKB = 0;
    QDateTime start, now;
    std::int16_t errorFlag = 0;
    std::int32_t patterns = 0;
    std::int16_t category = 0, known = 0;
    testsupport::RecordingView view;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;
    testsupport::FakeDrives drives;

    engine::FillOutcome run(int passes)
    {
        engine::FillProcedure fill({drive, level, freeKB, start, now, errorFlag, patterns, category, known}, view,
                                   {&drives, &prompter, &clock});
        return fill.run(passes);
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Through the main window, on a tmpfs.

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

    // What the window looked like while the fill ran, seen at its pauses.
    struct Watch {
        int pausesWithFillFile = 0;
        int pausesWithOtherFiles = 0;
        bool controlsDisabled = true;
        qint64 smallestFill = -1;
        std::uint64_t mostFreeLeft = 0;
    };

    void wipeThroughWindow(bool shortWipe, int passes)
    {
        app::Form1 w({&drives, &prompter, &clock}, [] {});
        ASSERT_FALSE(w.fillTargetFactory); // the real disk, not a stand-in
        ASSERT_TRUE(w.Drive1->setDrive("t:"));
        w.Combo1->setCurrentIndex(3); // Security Wipe Free Space
        w.Combo1_click();
        (shortWipe ? w.Option7 : w.Option6)->click();
        w.Check1->setChecked(true);
        ASSERT_EQ(app::settings().SelectedDrive.left(2), "t:");
        const std::uint64_t freeBefore = drives.freeBytes("t:\\");
        ASSERT_GT(freeBefore, 3u << 20);

        Watch seen;
        clock.onPause = [&] {
            const QStringList files = fillFilesIn(volume.folder());
            if (files.isEmpty())
                return;
            if (files != QStringList{"tmptxt1.txt"}) {
                ++seen.pausesWithOtherFiles;
                return;
            }
            ++seen.pausesWithFillFile;
            const qint64 size = QFileInfo(volume.folder() + "/tmptxt1.txt").size();
            if (seen.smallestFill < 0 || size < seen.smallestFill)
                seen.smallestFill = size;
            seen.mostFreeLeft = std::max(seen.mostFreeLeft, drives.freeBytes("t:\\"));
            for (QWidget* c : std::initializer_list<QWidget*>{w.Command1, w.Command2, w.Command3, w.Drive1, w.Combo1,
                                                              w.Option6, w.Option7})
                if (c->isEnabled())
                    seen.controlsDisabled = false;
        };
        w.Command1_Click();
        clock.onPause = nullptr;

        EXPECT_TRUE(w.lastFill.completed) << w.lastFill.message.toStdString();
        EXPECT_FALSE(w.lastFill.driveErrors);
        EXPECT_FALSE(w.lastFill.spaceMissed);
        EXPECT_EQ(w.PatternCallCount, passes);
        // Seven seconds between passes, one before the end.
        EXPECT_EQ(clock.pausedMs, passes * 7000 + 1000);
        // Each pass: one fill file, filled to within 4,000 bytes of the end,
        // kept through the four pauses before it is deleted.
        EXPECT_EQ(seen.pausesWithFillFile, passes * 4);
        EXPECT_EQ(seen.pausesWithOtherFiles, 0);
        EXPECT_TRUE(seen.controlsDisabled);
        EXPECT_LT(seen.mostFreeLeft, 4000u);
        EXPECT_GT(static_cast<std::uint64_t>(seen.smallestFill), freeBefore - 4000);

        EXPECT_EQ(w.Text1->text(), "Free Space Wipe Completed");
        EXPECT_EQ(w.Text2->text(), "Drive   T");
        EXPECT_EQ(w.Text4->text(), "100 %");
        EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty());
        EXPECT_EQ(drives.freeBytes("t:\\"), freeBefore);
        for (QWidget* c : std::initializer_list<QWidget*>{w.Command1, w.Command2, w.Command3, w.Drive1, w.Combo1,
                                                          w.Option6, w.Option7, w.Check1})
            EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
        EXPECT_EQ(w.Combo1->currentText(), "SELECT ONE PROCESS TYPE");
        EXPECT_FALSE(w.Check1->isChecked());
        EXPECT_TRUE((shortWipe ? w.Option7 : w.Option6)->isChecked());
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
    ScratchVolume volume(ScratchVolume::Kind::Tmpfs, 3);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
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
    const engine::FillOutcome out = fill.run(3);
    EXPECT_TRUE(out.completed) << out.message.toStdString();
    EXPECT_TRUE(fill.prompter.texts.isEmpty()) << fill.prompter.texts.join("|").toStdString();
    EXPECT_EQ(seenDuringPause, QStringList({"tmptxt1.txt", "tmptxt2.txt"}));
    EXPECT_EQ(fillFilesIn(volume.folder()), QStringList{"tmptxt1.txt"});
    QFile f(own);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == content);
}

// ---------------------------------------------------------------------------
// The raw image after the wipe: deleted files' data must be gone.

namespace {

void deletedDataIsGoneFromTheImage(ScratchVolume::Kind kind, int sizeMiB)
{
    ScratchVolume volume(kind, sizeMiB);
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
    // Unmounting puts the markers on the image: make sure they are there
    // before the wipe, or their absence after it proves nothing.
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
    const engine::FillOutcome out = fill.run(2);
    EXPECT_TRUE(out.completed) << out.message.toStdString();
    EXPECT_FALSE(out.driveErrors);
    EXPECT_TRUE(fill.prompter.texts.isEmpty()) << fill.prompter.texts.join("|").toStdString();
    EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty());
    EXPECT_LT(freeLeft, 4000u) << "free bytes left while the fill file was full";

    ASSERT_TRUE(volume.unmount());
    const qint64 left = testsupport::countInFile(volume.image(), needle);
    EXPECT_EQ(left, 0) << "marker still in the image " << left << " times, first at "
                       << testsupport::describeOffsets(testsupport::findInFile(volume.image(), needle, 8))
                              .toStdString();
}

} // namespace

TEST(FillVolumes, Ext4ImageHoldsNoDeletedDataAfterTheWipe)
{
    deletedDataIsGoneFromTheImage(ScratchVolume::Kind::Ext4, 24);
}

TEST(FillVolumes, NtfsImageHoldsNoDeletedDataAfterTheWipe)
{
    deletedDataIsGoneFromTheImage(ScratchVolume::Kind::Ntfs, 24);
}

// ext4 keeps clusters even root cannot write; the wipe frees them while it
// runs and gives them back whether it completes or fails.
TEST(FillVolumes, Ext4ReserveIsReleasedForTheFillAndPutBackAfter)
{
    ScratchVolume volume(ScratchVolume::Kind::Ext4, 16);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
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
        EXPECT_TRUE(out.completed) << out.message.toStdString();
        EXPECT_FALSE(out.spaceMissed);
        EXPECT_TRUE(fill.prompter.texts.isEmpty()) << fill.prompter.texts.join("|").toStdString();
        EXPECT_EQ(during, "0");
        EXPECT_EQ(readText(knob), before);
    }

    // A volume that cannot be written: the first fill file cannot be made.
    QString out;
    ASSERT_EQ(testsupport::runCommand("mount", {"-o", "remount,ro", volume.folder()}, &out), 0)
        << out.toStdString();
    DirectFill fill;
    const engine::FillOutcome failed = fill.run(1);
    EXPECT_FALSE(failed.completed);
    EXPECT_EQ(fill.view.resets, 1);
    ASSERT_EQ(fill.prompter.texts.size(), 1);
    EXPECT_TRUE(fill.prompter.texts[0].startsWith("The Free Space Wipe of Drive T: stopped before it was complete."))
        << fill.prompter.texts[0].toStdString();
    EXPECT_TRUE(fill.prompter.texts[0].contains("Error 75")) << fill.prompter.texts[0].toStdString();
    EXPECT_EQ(readText(knob), before);
}

// ---------------------------------------------------------------------------
// The command-line front end, run as the separate program it is.

namespace {

QString programPath()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/zarvexwipe";
    return QFileInfo::exists(beside) ? beside : QStringLiteral(ZARVEX_BUILD_BIN_DIR) + "/zarvexwipe";
}

struct Finished {
    int code = -1;
    QString out, err;
};

Finished runProgram(const QStringList& args, const QString& drivesMap)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZARVEX_DRIVES", drivesMap);
    p.setProcessEnvironment(env);
    p.start(programPath(), args);
    Finished f;
    if (!p.waitForStarted(10000) || !p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(5000);
        return f;
    }
    f.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    f.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    f.err = QString::fromLocal8Bit(p.readAllStandardError());
    return f;
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
}

// Stopped by a kill request in the middle of a wipe, the program leaves no
// fill file behind.
TEST(FillVolumesCommandLine, TerminationMidWipeDeletesTheFillFile)
{
    if (!QFileInfo::exists(programPath()))
        GTEST_SKIP() << "zarvexwipe is not built: " << programPath().toStdString();
    ScratchVolume volume(ScratchVolume::Kind::Tmpfs, 3);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();

    QProcess p; // goes before the volume does
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZARVEX_DRIVES", driveMap(volume));
    p.setProcessEnvironment(env);
    p.start(programPath(), {"free-space", "t:"});
    ASSERT_TRUE(p.waitForStarted(10000));

    QElapsedTimer waited;
    waited.start();
    bool seen = false;
    while (!seen && waited.elapsed() < 20000 && p.state() == QProcess::Running) {
        seen = QFileInfo::exists(volume.folder() + "/tmptxt1.txt");
        if (!seen)
            QThread::msleep(20);
    }
    ASSERT_TRUE(seen) << "no fill file appeared; output: " << p.readAll().toStdString();

    p.terminate(); // SIGTERM
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 128 + 15);
    EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty()) << fillFilesIn(volume.folder()).join(",").toStdString();
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains("Wiping the free space of drive T:")) << out.toStdString();
}
