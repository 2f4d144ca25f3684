// The main window on real folders mapped to letters: d: a fixed drive that
// holds the system root, r: a removable stick, t: what a test wipes. Fills
// go to memory unless a test wipes a scratch volume.
#include "app/form1.h"
#include "controls/drivelistbox.h"
#include "drives/driveinfo.h"
#include "platform/errors.h"
#include "platform/mounts.h"
#include "platform/shutdown.h"
#include "records/store.h"
#include "support/fakes.h"
#include "support/fillfakes.h"
#include "support/rawimage.h"
#include "support/volumes.h"

#include <QAction>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

using app::DriveWipeResult;
using app::Form1;
using testsupport::EnvGuard;
using testsupport::ScratchVolume;

namespace {
const QByteArray kMarker = "ZQX-entire-drive-marker-7f3a9c-";
const QString kSafe = "You may safely Reuse or Dispose of the Drive";

void writeMarker(const QString& path, int size)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(testsupport::repeated(kMarker, size)) == size && f.flush());
    ::fsync(f.handle());
}
} // namespace

class Form1Test : public ::testing::Test {
protected:
    QTemporaryDir fixedDir, stickDir, targetDir;
    std::optional<EnvGuard> drivesEnv;
    EnvGuard rootEnv{"SYSTEMROOT", "D:\\WINDOWS"};
    testsupport::FakeDrives drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;
    testsupport::MemoryVolume volume{2'000'000};
    int ended = 0;

    void SetUp() override
    {
        mapT(targetDir.path());
        session::settings() = session::ProcessSettings{};
        drives.types[u'r'] = platform::DriveRemovable;
        drives.types[u'd'] = platform::DriveFixed;
    }
    void mapT(const QString& folder)
    {
        drivesEnv.emplace("ZARVEX_DRIVES", "c=/;d=" + fixedDir.path() + ";r=" + stickDir.path() + ";t=" + folder);
    }
    std::unique_ptr<Form1> makeWindow(bool memoryFills = true)
    {
        auto w = std::make_unique<Form1>(platform::Services{&drives, &prompter, &clock}, [this] { ++ended; });
        if (memoryFills)
            w->fillTargetFactory = [this](const QString&) { return testsupport::borrow(volume); };
        return w;
    }
    static void choose(Form1& w, int item)
    {
        w.Combo1->setCurrentIndex(item);
        w.Combo1_click();
    }
    // The entire-drive wipe chosen on `letter`, t: mapped to `target`.
    std::unique_ptr<Form1> entireDriveOn(const QString& target, const QString& letter = "t:")
    {
        mapT(target);
        auto w = makeWindow(false);
        w->Drive1->setDrive(letter);
        choose(*w, 0);
        return w;
    }
};
class EntireDrive : public Form1Test {};

// The first window: Complete wipe in NTFS on the system drive. A Short wipe
// is kept for the next window, with NTFS; a pass number left by a file wipe
// means Complete again.
TEST_F(Form1Test, StartsWithCompleteWipeOrTheShortOneKeptFromTheLastWindow)
{
    {
        auto w = makeWindow();
        EXPECT_TRUE(w->Option5->isChecked() && w->Option6->isChecked());
        EXPECT_TRUE(session::settings().FormatType == 3 && session::settings().WipeLevel == 1);
        EXPECT_EQ(session::settings().SystemDrive, "D:");
        EXPECT_EQ(session::settings().SelectedDrive.left(2), "d:");
        EXPECT_TRUE(prompter.texts.isEmpty()) << prompter.texts.join("|").toStdString();
        w->Option4->click();
        w->Option7->click();
    }
    auto w = makeWindow();
    EXPECT_TRUE(w->Option7->isChecked() && w->Option5->isChecked());
    EXPECT_TRUE(session::settings().FormatType == 3 && session::settings().WipeLevel == 2);
    session::settings().WipeLevel = 40;
    auto w2 = makeWindow();
    EXPECT_TRUE(w2->Option6->isChecked());
    EXPECT_EQ(session::settings().WipeLevel, 1);
}

TEST_F(Form1Test, EmptySystemRootMeansOldSystemOncePerRun)
{
    EnvGuard empty("SYSTEMROOT", "");
    auto w = makeWindow();
    EXPECT_EQ(prompter.texts, QStringList({"P98 SET"}));
    EXPECT_FALSE(w->Option5->isEnabled());
    EXPECT_EQ(w->Drive1->drive().left(2), "c:");
    w.reset();
    auto again = makeWindow();
    EXPECT_EQ(prompter.texts.count("P98 SET"), 1);
    EXPECT_FALSE(again->Option5->isEnabled());
}

// Choosing a removable drive for an entire-drive wipe forces FAT, once;
// other process types keep their format. The program's own drive is warned
// of, whatever the case of its letter.
TEST_F(Form1Test, RemovableDriveForcesFatAndTheProgramsDriveIsWarnedOf)
{
    auto w = makeWindow();
    choose(*w, 0);
    w->Drive1->setDrive("r:");
    EXPECT_EQ(prompter.texts, QStringList({app::removableFatMessage()}));
    EXPECT_TRUE(w->Option3->isChecked());
    EXPECT_EQ(session::settings().FormatType, 1);
    w->Drive1->setDrive("d:");
    w->Drive1->setDrive("r:");
    w->Option5->click();
    choose(*w, 3);
    w->Drive1->setDrive("d:");
    w->ProgramDrive = "R:";
    w->Drive1->setDrive("r:");
    EXPECT_EQ(prompter.texts,
              QStringList({app::removableFatMessage(), "You CAN NOT FORMAT the drive this program is installed on"}));
    EXPECT_EQ(session::settings().FormatType, 3);
}

// What Wipe says when it has nothing to do; the window is usable after.
TEST_F(Form1Test, WipeWithoutAProcessTypeOrAReadyDriveSaysSo)
{
    const struct { int item; QString typed; bool ready; QStringList said; } cases[] = {
        {-1, {}, true, {"You MUST select a process type"}},
        {-1, "Something typed by the user", true, {}},
        {1, {}, false, {drives::kNotReadyMessage}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        prompter.texts.clear();
        auto w = makeWindow();
        drives.ready[u'd'] = c.ready;
        w->Check1->setChecked(!c.typed.isEmpty());
        if (c.item >= 0)
            choose(*w, c.item);
        if (!c.typed.isEmpty())
            w->Combo1->setEditText(c.typed);
        w->Command1_Click();
        EXPECT_EQ(prompter.texts, c.said);
        EXPECT_EQ(session::settings().AutoWipeFree, c.typed.isEmpty() ? 0 : 1);
        EXPECT_TRUE(w->Command1->isEnabled() && w->Command3->isEnabled() && w->Command3->isVisibleTo(w.get()) &&
                    w->ProcessRunning == 0);
    }
    // No drive at all: said once, with why, not as a drive that is not ready.
    EnvGuard none("ZARVEX_DRIVES", "");
    auto w = makeWindow();
    EXPECT_EQ(w->Text1->text(), "No drive to wipe: none is mounted");
    choose(*w, 3);
    prompter.texts.clear();
    w->Command1_Click();
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].startsWith("There is no drive to wipe: the drive list is empty."));
    EXPECT_TRUE(prompter.confirmations.isEmpty() && w->Command1->isEnabled());
}

TEST_F(Form1Test, DriveThatMovedToAnotherLetterIsNotWiped)
{
    auto w = makeWindow();
    choose(*w, 3); // free space of d:, as the list showed it
    QTemporaryDir other;
    EnvGuard moved("ZARVEX_DRIVES", "c=/;d=" + other.path() + ";r=" + stickDir.path());
    w->Command1_Click();
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].startsWith("The drives have changed since the list was read: D: no longer names"));
    EXPECT_TRUE(volume.created.isEmpty()); // nothing was written
    EXPECT_EQ(w->Drive1->itemText(1), "d: [" + other.path() + "]"); // the list is read again
    EXPECT_TRUE(w->Command1->isEnabled());
}

// The Wipe button names the chosen process however it was chosen, and Enter
// presses it. A free-space wipe starts only after a Yes to the question that names the
// drive, its mount point and the passes; its end brings the window back to
// the system drive (here the program's own) without a warning meant for a
// user's choice.
TEST_F(Form1Test, FreeSpaceIsWipedOnlyAfterAYesAndEndsWithoutAWarning)
{
    EnvGuard systemOnProgramDrive("SYSTEMROOT", "C:\\WINDOWS");
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes);
        prompter.texts.clear();
        prompter.confirmations.clear();
        prompter.confirmYes = yes;
        volume.created.clear();
        auto w = makeWindow();
        const QStringList captions{"&Wipe Drive", "&Wipe Folders", "&Wipe Files", "&Wipe Free Space"};
        for (int item = 0; item < captions.size(); ++item) {
            w->Combo1->setCurrentIndex(item); // as the hand-over sets it: no click
            EXPECT_EQ(w->Command1->text(), captions[item]);
        }
        w->Drive1->setDrive("t:");
        choose(*w, 3);
        prompter.texts.clear();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier); // presses the default button: Wipe
        QApplication::sendEvent(w->Drive1, &enter);
        ASSERT_EQ(prompter.confirmations.size(), 1);
        EXPECT_TRUE(prompter.confirmations[0].startsWith("Wipe the free space of T: [" + targetDir.path() + "] (") &&
                    prompter.confirmations[0].endsWith(" free), 12 passes?"))
            << prompter.confirmations[0].toStdString();
        EXPECT_EQ(volume.created.isEmpty(), !yes);
        EXPECT_EQ(w->lastFill.completed, yes) << w->lastFill.message.toStdString();
        EXPECT_TRUE(yes || w->Text1->text() == "Nothing was wiped");
        EXPECT_TRUE(prompter.texts.filter("You CAN NOT FORMAT").isEmpty()) << prompter.texts.join("|").toStdString();
        EXPECT_TRUE(w->Drive1->drive().startsWith(yes ? "c:" : "t:"));
        EXPECT_TRUE(w->Command1->isEnabled());
    }
}

// While a free-space wipe runs, Cancel is its Stop: the pass ends where it
// stands, its fill files are deleted, the record says "stopped", and the
// drive is not called wiped.
TEST_F(Form1Test, StopEndsAFreeSpaceWipeAndDeletesItsFiles)
{
    VOLUME_OR_SKIP(vol, Tmpfs, 3);
    mapT(vol.folder());
    auto w = makeWindow(false);
    w->Drive1->setDrive("t:");
    choose(*w, 3);
    int pauses = 0;
    bool offered = false;
    clock.onPause = [&] {
        if (++pauses == 8) { // in the second pass
            // and the time box says how long the rest will take
            offered = w->Command2->isEnabled() && w->Command2->text() == "&Stop" &&
                      w->Text7->text().contains(QRegularExpression("^0:\\d\\d:\\d\\d, about \\d+:\\d\\d:\\d\\d left$"));
            w->Command2->click();
        }
    };
    w->Command1_Click();
    clock.onPause = nullptr;
    EXPECT_TRUE(offered);
    EXPECT_FALSE(w->lastFill.completed);
    EXPECT_TRUE(w->lastFill.message.startsWith("The Free Space Wipe of Drive T: was stopped after 1 of 12 passes. Its "
                                               "fill files were deleted. The drive's free space was not wiped."))
        << w->lastFill.message.toStdString();
    EXPECT_TRUE(QDir(vol.folder()).entryList({"tmptxt*"}, QDir::Files).isEmpty());
    EXPECT_EQ(records::Store().all().value(0).outcome, records::Outcome::Stopped);
    EXPECT_TRUE(w->Command2->isEnabled() && w->Command2->text() == "&Cancel" && w->Command1->isEnabled());
}

// Tab goes only to what the user can change, and every menu opens with Alt
// and its letter.
TEST_F(Form1Test, KeyboardReachesWhatCanChangeCaptionsClickTheirButtonsAndTheNoteWraps)
{
    auto w = makeWindow();
    for (const QLineEdit* box : w->findChildren<QLineEdit*>())
        EXPECT_TRUE(!box->isReadOnly() || !(box->focusPolicy() & Qt::TabFocus)) << box->objectName().toStdString();
    EXPECT_FALSE(w->Text5->focusPolicy() & Qt::TabFocus);
    for (const QAction* menu : w->menuBar()->actions())
        EXPECT_TRUE(menu->text().startsWith(u'&')) << menu->text().toStdString();

    // The words beside a button click it; the NOTE is as tall as it wraps to.
    w->resize(420, 700);
    w->show();
    auto clickOn = [](QWidget* target) {
        const QPointF at(target->rect().center());
        QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
        QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), Qt::LeftButton, {}, {});
        QApplication::sendEvent(target, &press);
        QApplication::sendEvent(target, &release);
    };
    clickOn(w->findChild<QLabel*>("Option7Label"));
    EXPECT_TRUE(w->Option7->isChecked());
    clickOn(w->findChild<QLabel*>("Option4Label"));
    EXPECT_TRUE(w->Option4->isChecked());
    QApplication::processEvents();
    const QRect text = w->Text5->fontMetrics().boundingRect(w->Text5->contentsRect(), Qt::TextWordWrap, w->Text5->text());
    EXPECT_GT(text.height(), 2 * w->Text5->fontMetrics().lineSpacing());
    EXPECT_LE(text.height(), w->Text5->contentsRect().height());
}

// Closing asks only while a process runs; Cancel and Close end the program
// without asking.
TEST_F(Form1Test, CloseAsksOnlyWhileRunningCancelAndCloseNever)
{
    auto w = makeWindow();
    w->show();
    EXPECT_TRUE(w->close());
    EXPECT_TRUE(prompter.confirmations.isEmpty());

    auto r = makeWindow();
    r->show();
    r->ProcessRunning = 1;
    prompter.confirmYes = false; // the question's default
    EXPECT_FALSE(r->close());
    EXPECT_EQ(prompter.confirmations, QStringList{"This will close the program even if a process is still running\r\n\r\n"
                                                  "Do you want to continue the Close Process?"});
    EXPECT_EQ(ended, 0);
    // Yes ends the program, after what the running process must not leave
    // behind (its fill files) is put right.
    bool cleanedUp = false;
    platform::EndOfProgramGuard fillFiles([&] { cleanedUp = true; });
    prompter.confirmYes = true;
    r->mnuClose->trigger();
    EXPECT_TRUE(ended == 1 && cleanedUp);

    for (const bool cancel : {true, false}) {
        auto v = makeWindow();
        v->show();
        v->ProcessRunning = 1;
        v->Command3->setVisible(true);
        v->Command3->setEnabled(true);
        (cancel ? v->Command2 : v->Command3)->click();
    }
    EXPECT_EQ(ended, 3);
    EXPECT_EQ(prompter.confirmations.size(), 2);
}

// The whole device holds markers before the first format: no byte of it,
// the ends past the file system's clusters included, survives.
TEST_F(EntireDrive, NtfsImageIsFormattedFilledAndFormattedAgain)
{
    ScratchVolume vol(ScratchVolume::Kind::Ntfs, 12, kMarker);
    if (!vol.ok())
        GTEST_SKIP() << vol.skipReason().toStdString();
    writeMarker(vol.folder() + "/old-8k.bin", 8192);
    writeMarker(vol.folder() + "/old-1m.bin", 1 << 20);
    const qsizetype recordsBefore = records::Store().all().size();
    auto w = entireDriveOn(vol.folder());
    drives.types[u't'] = platform::DriveFixed;
    w->Check1->setChecked(true);
    prompter.answer(true); // keep NTFS
    w->Command1_Click();

    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::Completed) << prompter.texts.join("|").toStdString();
    EXPECT_EQ(prompter.texts, prompter.questions); // nothing but the one question
    ASSERT_EQ(prompter.questions.size(), 1);
    EXPECT_TRUE(prompter.questions[0].startsWith("Press YES to continue with Formatting the drive in NTFS Format"));
    EXPECT_EQ(w->Text2->text(), kSafe);
    // The window is reset for the next process.
    EXPECT_TRUE(w->Option5->isChecked() && w->Option6->isChecked());
    EXPECT_TRUE(!w->Check1->isChecked() && w->Check1->isEnabled() && w->Command1->isEnabled());
    EXPECT_EQ(w->Combo1->currentText(), "SELECT ONE PROCESS TYPE");
    EXPECT_EQ(w->Drive1->drive().left(2), "d:");
    // One record for the whole wipe, its last fill pass read back.
    const QList<records::WipeRecord> kept = records::Store().all();
    ASSERT_EQ(kept.size(), recordsBefore + 1);
    EXPECT_EQ(kept[0].process, records::ProcessKind::EntireDrive);
    EXPECT_EQ(kept[0].outcome, records::Outcome::Completed);
    EXPECT_EQ(kept[0].verification, platform::Verification::Passed) << kept[0].verificationDetail.toStdString();
    EXPECT_EQ(kept[0].passesDone, kept[0].passesPlanned);

    // A fresh, empty NTFS at the same place, holding nothing of the old data.
    EXPECT_TRUE(QDir(vol.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    ASSERT_TRUE(vol.unmount());
    EXPECT_EQ(testsupport::countInFile(vol.image(), kMarker), 0);
    QFile img(vol.image());
    ASSERT_TRUE(img.open(QIODevice::ReadOnly));
    EXPECT_EQ(img.read(11).mid(3, 8), QByteArray("NTFS    "));
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
    auto w = entireDriveOn(vol.folder());
    drives.types[u't'] = platform::DriveFixed;
    prompter.answer(false); // NO: change the format to FAT32
    w->Command1_Click();

    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::FormatFailed);
    ASSERT_EQ(prompter.texts.size(), 2);
    EXPECT_TRUE(prompter.texts[1].startsWith("The format of drive T: failed, so the drive was not wiped."));
    EXPECT_TRUE(prompter.texts[1].contains("cannot mount a FAT file system")) << prompter.texts[1].toStdString();
    EXPECT_TRUE(QFile::exists(vol.folder() + "/old.bin"));
    EXPECT_NE(w->Text2->text(), kSafe);
}

// The question that names the drive comes first; No to it, or Cancel to the
// format question after it, formats nothing and leaves the window usable.
TEST_F(EntireDrive, NoToTheDriveOrCancelToTheFormatFormatsNothing)
{
    ASSERT_TRUE(QFile(targetDir.filePath("keep.txt")).open(QIODevice::WriteOnly));
    struct Row { bool yes, cancel; int questions; };
    for (const Row r : {Row{false, false, 0}, Row{true, true, 1}}) {
        SCOPED_TRACE(r.yes);
        prompter.questions.clear();
        prompter.confirmations.clear();
        prompter.confirmYes = r.yes;
        prompter.cancelNext = r.cancel;
        auto w = entireDriveOn(targetDir.path());
        drives.types[u't'] = platform::DriveFixed;
        w->Command1_Click();
        EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::Declined);
        EXPECT_EQ(prompter.confirmations,
                  QStringList{"Wipe the entire drive T: [" + targetDir.path() +
                              "]: format it, fill it with wipe data 10 times and format it again? Everything on it "
                              "is destroyed."});
        EXPECT_EQ(prompter.questions.size(), r.questions);
        EXPECT_TRUE(QFile::exists(targetDir.filePath("keep.txt")));
        EXPECT_TRUE(w->Option5->isChecked()); // Cancel is not No: NTFS stays
        EXPECT_TRUE(w->Command1->isEnabled() && w->Drive1->isEnabled() && w->ProcessRunning == 0);
        EXPECT_EQ(w->Text1->text(), "Nothing was formatted");
    }
}

// Refused before anything is asked or written: the boot drive (its letter
// in whatever case), a CD drive, a drive that is not ready.
TEST_F(EntireDrive, BootCdAndNotReadyDrivesAreRefusedBeforeAnything)
{
    ASSERT_TRUE(QFile(targetDir.filePath("keep.txt")).open(QIODevice::WriteOnly));
    const struct { QString drive; int type; bool ready; QString said; } cases[] = {
        {"d:", platform::DriveFixed, true, app::kBootDriveRefusal},
        {"t:", platform::DriveCdRom, true, drives::kCdMessage},
        {"t:", platform::DriveFixed, false, "Drive T: is not ready, so it was not wiped."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said.toStdString());
        session::settings() = session::ProcessSettings{};
        prompter.texts.clear();
        auto w = entireDriveOn(targetDir.path(), c.drive);
        drives.types = {{c.drive[0], c.type}};
        drives.ready = {{c.drive[0], c.ready}};
        session::settings().SystemRootPath = "d:\\windows";
        w->Command1_Click();
        EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::Refused);
        EXPECT_EQ(prompter.texts.last(), c.said);
        EXPECT_TRUE(prompter.questions.isEmpty());
        EXPECT_TRUE(w->Drive1->isEnabled() && w->Command1->isEnabled() && w->Command2->isVisibleTo(w.get()));
    }
    EXPECT_TRUE(QFile::exists(targetDir.filePath("keep.txt")));
}

// A removable drive, even on the boot drive's letter, is no boot drive: FAT
// is forced again at Wipe, so nothing is asked, and the format (which
// refuses a plain folder) starts. A Short wipe times itself from zero and
// locks the end button meanwhile.
TEST_F(EntireDrive, RemovableDriveGoesOnInFatAndAShortWipeLocksTheEndButton)
{
    drives.types[u'd'] = platform::DriveRemovable;
    auto w = entireDriveOn(targetDir.path(), "d:");
    w->Option7->click();
    w->Option4->click(); // FAT32: changed back at Wipe
    QStringList statuses, times;
    int formatType = 0;
    bool lockedSeen = false;
    clock.onPause = [&] {
        statuses << w->Text1->text();
        times << w->Text7->text();
        formatType = session::settings().FormatType;
        lockedSeen = lockedSeen || (w->Command2->text() == "Close" && !w->Command2->isEnabled() &&
                                    !w->Command1->isEnabled() && !w->Combo1->isEnabled());
    };
    clock.advance(3600 * 1000); // time since the process type was chosen
    w->Command1_Click();
    EXPECT_EQ(prompter.texts.first(), app::removableFatMessage());
    EXPECT_FALSE(prompter.texts.contains(app::kBootDriveRefusal));
    EXPECT_TRUE(prompter.questions.isEmpty());
    EXPECT_EQ(formatType, session::FormatFat);
    ASSERT_FALSE(statuses.isEmpty());
    EXPECT_EQ(statuses.first(), "D:\\   Preparing for Short Disc Short");
    EXPECT_EQ(times.first(), "0:00:00"); // restarted at zero, not an hour on
    EXPECT_TRUE(lockedSeen);
    EXPECT_EQ(w->Command2->text(), "Close"); // stays until a new window
    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::FormatFailed);
}

TEST_F(EntireDrive, AFillThatStopsLeavesOutTheSecondFormat)
{
    ScratchVolume vol(ScratchVolume::Kind::Ntfs, 12);
    if (!vol.ok())
        GTEST_SKIP() << vol.skipReason().toStdString();
    auto w = entireDriveOn(vol.folder());
    drives.types[u't'] = platform::DriveFixed;
    volume.createError = platform::ErrDeviceIO;
    // Called after the first format: leaves a file the second would remove.
    w->fillTargetFactory = [&](const QString&) {
        writeMarker(vol.folder() + "/after-first-format.bin", 4096);
        return testsupport::borrow(volume);
    };
    prompter.answer(true);
    w->Command1_Click();
    EXPECT_EQ(w->lastDriveWipe, DriveWipeResult::FillStopped);
    EXPECT_TRUE(QFile::exists(vol.folder() + "/after-first-format.bin"));
    EXPECT_NE(w->Text2->text(), kSafe);
    EXPECT_TRUE(prompter.texts.last().contains("Error 57"));
}

// At QT_SCALE_FACTOR=2 a 1280x1024 screen is 640x512 of the window's own
// pixels: the main window fits there, frame and title bar included.
TEST_F(Form1Test, FitsA1280By1024ScreenAtScale2)
{
    auto w = makeWindow();
    const QSize least = w->minimumSizeHint().expandedTo(w->minimumSize());
    EXPECT_LE(least.width(), 640 - 10) << least.width() << "x" << least.height();
    EXPECT_LE(least.height(), 512 - 40) << least.width() << "x" << least.height();
}

// The question before the first format, word for word: NTFS and FAT32 offer
// each other; FAT (and a type that names none) is not asked about.
TEST(FormatQuestion, OffersTheOtherFileSystemWordForWord)
{
    const struct { int type; QString question; } cases[] = {
        {session::FormatNtfs, "Press YES to continue with Formatting the drive in NTFS Format\r\n"
                          "for Windows NT, 2000, XP or 2003\r\n\r\n"
                          "Press NO to change the Format to FAT32\r\n"
                          "for Windows 95, 98, 98SE, or ME"},
        {session::FormatFat32, "Press YES to continue with Formatting the drive in FAT32 Format\r\n"
                           "for Windows 95, 98, 98SE, or ME\r\n\r\n"
                           "Press NO to change the Format to NTFS\r\n"
                           "for Windows NT, 2000, XP or 2003"},
        {session::FormatFat, {}},
        {0, {}}};
    for (const auto& c : cases)
        EXPECT_EQ(app::formatQuestion(c.type), c.question) << c.type;
}

// The bar shows the share of the work done, up to the largest drives: a
// complete wipe of a 1 TB drive counts 12,000,000,000 KB.
TEST_F(Form1Test, ProgressBarShowsTheShareDoneOfAnyCount)
{
    auto w = makeWindow();
    const struct { std::int64_t value, maximum; double shown; } cases[] = {
        {50, 100, 0.5}, {150, 100, 1.0}, {-5, 100, 0.0},
        {1'500'000'000, 3'000'000'000, 0.5}, {11'000'000'000, 12'000'000'000, 11.0 / 12.0}};
    for (const auto& c : cases) {
        w->setProgress(c.value, c.maximum);
        EXPECT_NEAR(double(w->ProgressBar1->value()) / w->ProgressBar1->maximum(), c.shown, 1e-6) << c.value;
    }
}

// On a system without a system root NTFS stays off, also after the window
// unlocks at the end of a wipe or a refusal.
TEST_F(Form1Test, NtfsStaysOffWithoutASystemRoot)
{
    session::settings().NoSystemRoot = 1;
    session::settings().SystemRootRead = true;
    session::settings().SystemRootPath = "C:\\windows";
    auto w = makeWindow();
    EXPECT_FALSE(w->Option5->isEnabled());
    w->unlockAfterRefusal();
    EXPECT_FALSE(w->Option5->isEnabled());
    w->resetAfterDriveWipe();
    EXPECT_FALSE(w->Option5->isEnabled() || !w->Option4->isEnabled());
}
