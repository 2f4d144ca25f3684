#include "app/form1.h"
#include "controls/drivelistbox.h"
#include "drives/driveinfo.h"
#include "platform/errors.h"
#include "platform/mounts.h"
#include "records/store.h"
#include "support/fakes.h"
#include "support/fillfakes.h"
#include "support/volumes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using app::DriveWipeResult;
using app::Form1;
using testsupport::EnvGuard;
using testsupport::ScratchVolume;

namespace {
const QByteArray kMarker = "ZQX-entire-drive-marker-7f3a9c-";

bool imageContains(const QString& image, const QByteArray& needle)
{
    QFile f(image);
    if (!f.open(QIODevice::ReadOnly))
        return true; // cannot prove it is gone
    const QByteArray data = f.readAll();
    return data.contains(needle);
}

void writeMarker(const QString& path, int size)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    QByteArray data;
    while (data.size() < size)
        data += kMarker;
    f.write(data.left(size));
    f.flush();
    ::fsync(f.handle());
}
} // namespace

// A window on a letter t: mapped to a folder or scratch volume, with the
// system root on d: so the boot guard looks at d:.
class EntireDrive : public ::testing::Test {
protected:
    testsupport::FakeDrives drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;
    std::unique_ptr<EnvGuard> drivesEnv;
    EnvGuard rootEnv{"SYSTEMROOT", "D:\\WINDOWS"};
    QTemporaryDir bootDir;
    int ended = 0;

    void SetUp() override { app::settings() = app::ProcessSettings{}; }
    std::unique_ptr<Form1> windowOn(const QString& targetFolder)
    {
        drivesEnv = std::make_unique<EnvGuard>("ZARVEX_DRIVES", "c=/;d=" + bootDir.path() + ";t=" + targetFolder);
        auto w = std::make_unique<Form1>(platform::Services{&drives, &prompter, &clock}, [this] { ++ended; });
        w->Drive1->setDrive("t:");
        w->Combo1->setCurrentIndex(0);
        w->Combo1_click();
        return w;
    }
    static void expectResetWindow(Form1& w)
    {
        EXPECT_TRUE(w.Option5->isChecked());
        EXPECT_TRUE(w.Option6->isChecked());
        EXPECT_FALSE(w.Check1->isChecked());
        EXPECT_TRUE(w.Check1->isEnabled());
        EXPECT_EQ(w.Combo1->currentText(), "SELECT ONE PROCESS TYPE");
        EXPECT_EQ(w.Drive1->drive().left(2), "d:");
        for (QWidget* c : {static_cast<QWidget*>(w.Drive1), static_cast<QWidget*>(w.Command1),
                           static_cast<QWidget*>(w.Option3), static_cast<QWidget*>(w.Option5)})
            EXPECT_TRUE(c->isEnabled());
    }
};

// The whole device holds markers before the first format: no byte of it,
// the ends past the file system's clusters included, survives.
TEST_F(EntireDrive, NtfsImageIsFormattedFilledAndFormattedAgain)
{
    ScratchVolume vol(ScratchVolume::Kind::Ntfs, 12, kMarker);
    if (!vol.ok())
        GTEST_SKIP() << vol.skipReason().toStdString();
    writeMarker(vol.folder() + "/old-8k.bin", 8192);
    writeMarker(vol.folder() + "/old-1m.bin", 1 << 20);
    auto w = windowOn(vol.folder());
    drives.types[u't'] = platform::DriveFixed;
    w->Check1->setChecked(true);
    prompter.answer(true); // keep NTFS
    w->Command1_Click();

    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::Completed) << prompter.texts.join("|").toStdString();
    ASSERT_EQ(prompter.questions.size(), 1);
    EXPECT_TRUE(prompter.questions[0].startsWith("Press YES to continue with Formatting the drive in NTFS Format"));
    EXPECT_EQ(w->Text1->text(), "Drive Wipe is Complete");
    EXPECT_EQ(w->Text2->text(), "You may safely Reuse or Dispose of the Drive");
    EXPECT_EQ(w->Text4->text(), "DONE");
    expectResetWindow(*w);
    EXPECT_EQ(w->ProcessRunning, 0);
    EXPECT_TRUE(w->Command3->isEnabled());
    EXPECT_TRUE(prompter.texts == prompter.questions) << prompter.texts.join("|").toStdString();
    // One record for the whole wipe, its last fill pass read back.
    const QList<records::WipeRecord> kept = records::Store().all();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].process, records::ProcessKind::EntireDrive);
    EXPECT_EQ(kept[0].outcome, records::Outcome::Completed);
    EXPECT_EQ(kept[0].verification, platform::Verification::Passed) << kept[0].verificationDetail.toStdString();
    EXPECT_EQ(kept[0].passesDone, kept[0].passesPlanned);

    // A fresh, empty NTFS at the same place, holding nothing of the old data.
    EXPECT_TRUE(QDir(vol.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    ASSERT_TRUE(vol.unmount());
    EXPECT_FALSE(imageContains(vol.image(), kMarker));
    QFile img(vol.image());
    ASSERT_TRUE(img.open(QIODevice::ReadOnly));
    EXPECT_EQ(img.read(11).mid(3, 8), QByteArray("NTFS    "));
    img.close();
    EXPECT_TRUE(vol.remount()); // it mounts
}

// Without vfat the FAT32 format is refused before anything is unmounted:
// the drive stays as it was, mounted, with its data.
TEST_F(EntireDrive, NoSwitchesToFat32AndAFailedFormatStopsEverything)
{
    ScratchVolume vol(ScratchVolume::Kind::Ntfs, 40);
    if (!vol.ok())
        GTEST_SKIP() << vol.skipReason().toStdString();
    if (platform::kernelSupports("vfat"))
        GTEST_SKIP() << "vfat is available here: a FAT32 format would succeed";
    writeMarker(vol.folder() + "/old.bin", 4096);
    auto w = windowOn(vol.folder());
    drives.types[u't'] = platform::DriveFixed;
    prompter.answer(false); // NO: change the format to FAT32
    w->Command1_Click();

    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::FormatFailed);
    ASSERT_EQ(prompter.texts.size(), 2);
    EXPECT_TRUE(prompter.texts[1].startsWith("The format of drive T: failed, so the drive was not wiped."))
        << prompter.texts[1].toStdString();
    EXPECT_TRUE(prompter.texts[1].contains("cannot mount a FAT file system")) << prompter.texts[1].toStdString();
    EXPECT_TRUE(QFile::exists(vol.folder() + "/old.bin"));
    EXPECT_NE(w->Text1->text(), "Drive Wipe is Complete");
    EXPECT_NE(w->Text2->text(), "You may safely Reuse or Dispose of the Drive");
    EXPECT_NE(w->Text4->text(), "DONE");
    expectResetWindow(*w);
}

TEST_F(EntireDrive, BootDriveIsRefusedWhateverTheCaseAndRemovableNeverCompared)
{
    QTemporaryDir target;
    auto w = windowOn(target.path());
    w->Drive1->setDrive("d:"); // the letter of SYSTEMROOT
    w->Combo1->setCurrentIndex(0);
    w->Combo1_click();
    drives.types[u'd'] = platform::DriveFixed;
    app::settings().SystemRootPath = "d:\\windows";
    w->Command1_Click();
    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::Refused);
    EXPECT_EQ(prompter.texts.last(), "You CAN NOT FORMAT the Primary Boot Drive with this program");
    EXPECT_TRUE(prompter.questions.isEmpty());
    EXPECT_TRUE(w->Drive1->isEnabled());
    EXPECT_TRUE(w->Option5->isEnabled());
    EXPECT_TRUE(w->Command2->isVisibleTo(w.get()));
    EXPECT_TRUE(w->Command1->isEnabled());

    // The same letter on a removable drive is not the boot drive: it goes on
    // (FAT forced, no question) to the format, which refuses a plain folder.
    prompter.texts.clear();
    app::settings().DriveCategoryKnown = 0;
    drives.types[u'd'] = platform::DriveRemovable;
    w->DriveCategory = 0;
    w->Combo1->setCurrentIndex(0);
    w->Combo1_click();
    w->Command1_Click();
    EXPECT_FALSE(prompter.texts.contains("You CAN NOT FORMAT the Primary Boot Drive with this program"));
    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::FormatFailed);
    EXPECT_TRUE(prompter.questions.isEmpty());
}

TEST_F(EntireDrive, CdAndNotReadyDrivesAreRefusedBeforeAnything)
{
    QTemporaryDir target;
    QFile keep(target.filePath("keep.txt"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.close();
    auto w = windowOn(target.path());
    drives.types[u't'] = platform::DriveCdRom;
    w->Command1_Click();
    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::Refused);
    EXPECT_TRUE(prompter.texts.contains(drives::kCdMessage));
    EXPECT_TRUE(prompter.questions.isEmpty());

    drives.types[u't'] = platform::DriveFixed;
    drives.ready[u't'] = false;
    w->DriveCategory = 0;
    app::settings().DriveCategoryKnown = 0;
    prompter.texts.clear();
    w->Combo1->setCurrentIndex(0);
    w->Combo1_click();
    w->Command1_Click();
    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::Refused);
    EXPECT_TRUE(prompter.texts.contains("Drive T: is not ready, so it was not wiped."));
    EXPECT_TRUE(QFile::exists(target.filePath("keep.txt")));
}

TEST_F(EntireDrive, ShortWipeTextsZeroTimeAndLockedEndButton)
{
    QTemporaryDir target; // a plain folder: the format refuses it
    auto w = windowOn(target.path());
    drives.types[u't'] = platform::DriveFixed;
    w->Option7->click();
    w->Option3->click(); // FAT: no question
    QStringList statuses, times;
    bool lockedSeen = false;
    clock.onPause = [&] {
        statuses << w->Text1->text();
        times << w->Text7->text();
        lockedSeen = lockedSeen || (w->Command2->text() == "Close" && !w->Command2->isEnabled() &&
                                    !w->Command1->isEnabled() && !w->Combo1->isEnabled());
    };
    clock.advance(3600 * 1000); // time since the process type was chosen
    w->Command1_Click();
    EXPECT_TRUE(prompter.questions.isEmpty());
    ASSERT_FALSE(statuses.isEmpty());
    EXPECT_EQ(statuses.first(), "T:\\   Preparing for Short Disc Short");
    EXPECT_TRUE(lockedSeen);
    EXPECT_EQ(times.first(), "0:0:0"); // restarted at zero, not an hour on
    EXPECT_EQ(w->Command2->text(), "Close"); // stays until a new window
    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::FormatFailed);
}

TEST_F(EntireDrive, AFillThatStopsLeavesOutTheSecondFormat)
{
    ScratchVolume vol(ScratchVolume::Kind::Ntfs, 12);
    if (!vol.ok())
        GTEST_SKIP() << vol.skipReason().toStdString();
    auto w = windowOn(vol.folder());
    drives.types[u't'] = platform::DriveFixed;
    testsupport::MemoryVolume failing(4'000'000);
    failing.createError = platform::ErrDeviceIO;
    // Called after the first format: leaves a file the second would remove.
    w->fillTargetFactory = [&](const QString&) {
        writeMarker(vol.folder() + "/after-first-format.bin", 4096);
        return testsupport::borrow(failing);
    };
    prompter.answer(true);
    w->Command1_Click();
    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::FillStopped);
    EXPECT_TRUE(QFile::exists(vol.folder() + "/after-first-format.bin"));
    EXPECT_NE(w->Text2->text(), "You may safely Reuse or Dispose of the Drive");
    EXPECT_TRUE(prompter.texts.last().contains("Error 57"));
}
