#include "app/form1.h"
#include "controls/drivelistbox.h"
#include "drives/driveinfo.h"
#include "platform/shutdown.h"
#include "support/fakes.h"
#include "support/fillfakes.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using app::Form1;
using testsupport::EnvGuard;

namespace {
const QString kRemovableMsg = "Removable discs can only be formatted in FAT format.\r\n\r\n"
                              "The FORMAT has been automatically Changed";
const QString kProgramDriveMsg = "You CAN NOT FORMAT the drive this program is installed on";
}

class Form1Test : public ::testing::Test {
protected:
    QTemporaryDir fixedDir, stickDir;
    EnvGuard drivesEnv{"ZARVEX_DRIVES", "c=/;d=" + fixedDir.path() + ";r=" + stickDir.path()};
    EnvGuard rootEnv{"SYSTEMROOT", "D:\\WINDOWS"};
    testsupport::FakeDrives drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;
    // Fills in these tests never touch a real disk.
    testsupport::MemoryVolume volume{2'000'000};
    int ended = 0;

    void SetUp() override
    {
        app::settings() = app::ProcessSettings{};
        drives.types[u'r'] = platform::DriveRemovable;
        drives.types[u'd'] = platform::DriveFixed;
    }
    std::unique_ptr<Form1> makeWindow()
    {
        auto w = std::make_unique<Form1>(platform::Services{&drives, &prompter, &clock}, [this] { ++ended; });
        w->fillTargetFactory = [this](const QString&) { return testsupport::borrow(volume); };
        return w;
    }
    static void choose(Form1& w, int item)
    {
        w.Combo1->setCurrentIndex(item);
        w.Combo1_click();
    }
};

TEST_F(Form1Test, StartsWithDefaultsOnTheSystemDrive)
{
    auto w = makeWindow();
    EXPECT_EQ(w->windowTitle(), "The Zarvex Drive Wiper and Quellix");
    EXPECT_TRUE(w->Option5->isChecked());
    EXPECT_TRUE(w->Option6->isChecked());
    EXPECT_EQ(app::settings().FormatType, 3);
    EXPECT_EQ(app::settings().WipeLevel, 1);
    EXPECT_EQ(w->Combo1->currentText(), "SELECT ONE PROCESS TYPE");
    EXPECT_EQ(w->Combo1->count(), 4);
    EXPECT_EQ(w->Combo1->itemText(3), "Security Wipe Free Space");
    EXPECT_EQ(w->Drive1->drive().left(2), "d:");
    EXPECT_EQ(app::settings().SystemDrive, "D:");
    EXPECT_EQ(app::settings().SelectedDrive.left(2), "d:");
    EXPECT_EQ(w->Text7->text(), "hh:mm:ss");
    EXPECT_EQ(w->Command1->text(), "&Wipe Routine");
    EXPECT_FALSE(w->Command3->isVisibleTo(w.get()));
    EXPECT_TRUE(w->Command2->isVisibleTo(w.get()));
    EXPECT_FALSE(w->Check1->isChecked());
    EXPECT_EQ(w->Option7->toolTip(), "This option MAY leave some information Recoverable");
    EXPECT_EQ(w->Drive1->toolTip(), "Drive to Process");
    EXPECT_TRUE(prompter.texts.isEmpty()) << prompter.texts.join("|").toStdString();
    // Menus by item name, with separators where the groups change.
    EXPECT_EQ(w->menuItems.value("Protects")->text(), "Built In Safeguards");
    EXPECT_EQ(w->menuItems.value("EULA")->text(), "EndUser License Agreement (\"EULA\")");
    EXPECT_EQ(w->menuItems.size(), 7 + 5 + 8);
}

TEST_F(Form1Test, ShortWipeIsKeptForTheNextWindowWithNtfs)
{
    {
        auto w = makeWindow();
        w->Option4->click();
        EXPECT_EQ(app::settings().FormatType, 2);
        w->Option7->click();
        EXPECT_EQ(app::settings().WipeLevel, 2);
    }
    auto w = makeWindow();
    EXPECT_TRUE(w->Option7->isChecked());
    EXPECT_TRUE(w->Option5->isChecked());
    EXPECT_EQ(app::settings().FormatType, 3);
    EXPECT_EQ(app::settings().WipeLevel, 2);
    // After a file wipe the level holds a pass number: back to Complete Wipe.
    app::settings().WipeLevel = 40;
    auto w2 = makeWindow();
    EXPECT_TRUE(w2->Option6->isChecked());
    EXPECT_EQ(app::settings().WipeLevel, 1);
}

TEST_F(Form1Test, EmptySystemRootMeansOldSystemOncePerRun)
{
    EnvGuard empty("SYSTEMROOT", "");
    auto w = makeWindow();
    EXPECT_EQ(prompter.texts, QStringList({"P98 SET"}));
    EXPECT_EQ(app::settings().NoSystemRoot, 1);
    EXPECT_EQ(app::settings().SystemRootPath, "C:\\windows");
    EXPECT_EQ(app::settings().SystemDrive, "C:");
    EXPECT_FALSE(w->Option5->isEnabled());
    EXPECT_EQ(w->Drive1->drive().left(2), "c:");
    w.reset();
    auto again = makeWindow();
    EXPECT_EQ(prompter.texts.count("P98 SET"), 1);
    EXPECT_FALSE(again->Option5->isEnabled());
}

TEST_F(Form1Test, RemovableDriveForcesFatForEntireDriveWipe)
{
    auto w = makeWindow();
    choose(*w, 0); // Security Wipe Entire Drive
    EXPECT_EQ(w->Command1->text(), "&Wipe Drive");
    w->Drive1->setDrive("r:");
    EXPECT_EQ(prompter.texts, QStringList({kRemovableMsg}));
    EXPECT_TRUE(w->Option3->isChecked());
    EXPECT_EQ(app::settings().FormatType, 1);
    EXPECT_EQ(w->DriveCategory, drives::CategoryRemovable);
    // FAT already chosen: no message.
    w->Drive1->setDrive("d:");
    w->Drive1->setDrive("r:");
    EXPECT_EQ(prompter.texts.count(kRemovableMsg), 1);
    // Not for other process types.
    w->Option5->click();
    choose(*w, 3);
    w->Drive1->setDrive("d:");
    w->Drive1->setDrive("r:");
    EXPECT_EQ(prompter.texts.count(kRemovableMsg), 1);
    EXPECT_EQ(app::settings().FormatType, 3);
}

TEST_F(Form1Test, RemovableForcedAgainOnWipe)
{
    auto w = makeWindow();
    w->Drive1->setDrive("r:");
    choose(*w, 0);
    w->Option4->click();
    int formatTypeWhileFormatting = 0;
    clock.onPause = [&] { formatTypeWhileFormatting = app::settings().FormatType; };
    w->Command1_Click(); // the format helper then refuses the plain folder
    EXPECT_EQ(prompter.texts.count(kRemovableMsg), 1);
    EXPECT_EQ(formatTypeWhileFormatting, 1);
    EXPECT_TRUE(prompter.questions.isEmpty()); // FAT: no question
}

TEST_F(Form1Test, ProgramDriveWarningWhateverTheCase)
{
    auto w = makeWindow();
    w->ProgramDrive = "R:";
    w->Drive1->setDrive("r:");
    EXPECT_TRUE(prompter.texts.contains(kProgramDriveMsg));
    prompter.texts.clear();
    w->ProgramDrive = "d:";
    w->Drive1->setDrive("D:");
    EXPECT_EQ(prompter.texts, QStringList({kProgramDriveMsg}));
}

TEST_F(Form1Test, ProcessChoiceSetsCaptionsAndRootPath)
{
    EXPECT_EQ(app::withRootBackslash("c:"), "c:\\");
    EXPECT_EQ(app::withRootBackslash("c: [/]"), "c: [/]");
    EXPECT_EQ(app::processCodeOf("Security Wipe File or Range of Files"), "Fil");
    auto w = makeWindow();
    clock.advance(5000);
    choose(*w, 1);
    EXPECT_EQ(w->Command1->text(), "&Wipe Folders");
    EXPECT_EQ(app::settings().WipeStartTime, clock.now());
    EXPECT_EQ(app::settings().SelectedDrive, w->Drive1->drive());
    choose(*w, 2);
    EXPECT_EQ(w->Command1->text(), "&Wipe Files");
    choose(*w, 3); // free space leaves the caption as it was
    EXPECT_EQ(w->Command1->text(), "&Wipe Files");
}

TEST_F(Form1Test, WipeWithoutProcessTypeAsksForOne)
{
    auto w = makeWindow();
    w->Command1_Click();
    EXPECT_EQ(prompter.texts, QStringList({"You MUST select a process type"}));
    EXPECT_EQ(w->focusWidget(), w->Combo1);
    // The handler finishes: Wipe usable again, Close shown and enabled.
    EXPECT_TRUE(w->Command1->isEnabled());
    EXPECT_TRUE(w->Command3->isEnabled());
    EXPECT_TRUE(w->Command3->isVisibleTo(w.get()));
    EXPECT_EQ(w->ProcessRunning, 0);
    EXPECT_EQ(app::settings().AutoWipeFree, 0);
}

TEST_F(Form1Test, TypedProcessTextFinishesWithoutMessage)
{
    auto w = makeWindow();
    w->Check1->setChecked(true);
    w->Combo1->setEditText("Something typed by the user");
    w->Command1_Click();
    EXPECT_TRUE(prompter.texts.isEmpty());
    EXPECT_EQ(app::settings().AutoWipeFree, 1);
    EXPECT_TRUE(w->Command1->isEnabled());
}

TEST_F(Form1Test, WipeOnDriveThatIsNotReadySaysSo)
{
    auto w = makeWindow();
    drives.ready[u'd'] = false;
    choose(*w, 1);
    w->Command1_Click();
    EXPECT_EQ(prompter.texts, QStringList({drives::kNotReadyMessage}));
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

TEST_F(Form1Test, CloseQueryAsksOnlyWhileRunning)
{
    auto w = makeWindow();
    w->show();
    EXPECT_TRUE(w->close()); // idle: no question
    EXPECT_TRUE(prompter.questions.isEmpty());
    EXPECT_EQ(ended, 0);

    auto r = makeWindow();
    r->show();
    r->ProcessRunning = 1;
    prompter.answer(false);
    EXPECT_FALSE(r->close());
    EXPECT_TRUE(r->isVisible());
    ASSERT_EQ(prompter.questions.size(), 1);
    EXPECT_EQ(prompter.questions[0], "This will close the program even if a process is still running\r\n\r\n"
                                     "Do you want to continue the Close Process?");
    EXPECT_EQ(ended, 0);
    // Yes ends the program, after what the running process must not leave
    // behind (its fill files) is put right.
    bool cleanedUp = false;
    platform::EndOfProgramGuard fillFiles([&] { cleanedUp = true; });
    prompter.answer(true);
    r->mnuClose->trigger();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(cleanedUp);
}

TEST_F(Form1Test, CancelAndCloseEndTheProgramWithoutAsking)
{
    auto w = makeWindow();
    w->show();
    w->ProcessRunning = 1;
    w->Command2->click();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(prompter.questions.isEmpty());
    auto v = makeWindow();
    v->show();
    v->Command3->setVisible(true);
    v->Command3->setEnabled(true);
    v->Command3->click();
    EXPECT_EQ(ended, 2);
}
