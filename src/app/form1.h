#pragma once
// The main window: drive, process type and options; starts the chosen
// process and owns the rules for closing while one runs.
#include "app/entiredrive.h"
#include "session/settings.h"
#include "engine/fillview.h"
#include "engine/freespacewipe.h"
#include "filewipe/form2.h"
#include "platform/services.h"
#include "records/wiperecord.h"

#include <QMainWindow>
#include <functional>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QVBoxLayout;

namespace controls {
class DriveListBox;
}

namespace app {

inline const QString kSelectProcessType = QStringLiteral("SELECT ONE PROCESS TYPE");

class Form1;

// One process the main window runs, as a row of its process list: the code
// the window tells it by (characters 15 to 17 of its list text), the list
// text (the name wipe records keep too), the Wipe button's caption for it,
// whether it acts on the drive itself, and the handler that starts it.
struct ProcessType {
    QString code;
    records::ProcessKind kind;
    QString caption;
    bool actsOnDrive; // so the letter must still name the mount it named when chosen
    void (Form1::*start)();
    QString listText() const { return records::processName(kind); }
};

// Characters 15 to 17 of the process list text: "Ent", "Sel", "Fil", "Fre".
QString processCodeOf(const QString& comboText);
// A bare drive ("c:") becomes a root path ("c:\"); other texts stay whole.
QString withRootBackslash(const QString& drive);
class Form1 : public QMainWindow, public EntireDriveView, public filewipe::MainWindow {
    Q_OBJECT
public:
    // `endProgram` ends the program at once (tests record it instead).
    explicit Form1(platform::Services services, std::function<void()> endProgram = {},
                   QWidget* parent = nullptr);
    ~Form1() override;

    // The process list, in its order.
    static const std::vector<ProcessType>& processTypes();

    // Handlers, named as the window's events.
    void Drive1_Change();
    void Combo1_click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Option3_Click();
    void Option4_Click();
    void Option5_Click();
    void Option6_Click();
    void Option7_Click();
    void Set_Opts();
    void FileClose_Click();
    void showWipeCaption();
    void returnToSystemDrive();

    // Window state (starts at zero with every new window).
    std::int16_t CloseRequested = 0;
    std::int16_t ProcessRunning = 0;
    QString ProgramDrive;
    std::int16_t DriveCategory = 0;
    std::int16_t DriveErrorFlag = 0;
    std::int32_t PatternCallCount = 0;
    // The free-space wipe about to start was agreed to in the window that
    // handed it over: it is not asked again.
    bool FreeSpaceAgreed = false;
    // While a fill runs, Cancel is its Stop.
    bool StopOffered = false;
    bool StopRequested = false;

    // Controls, by their classic names.
    controls::DriveListBox* Drive1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QRadioButton* Option3 = nullptr;
    QRadioButton* Option4 = nullptr;
    QRadioButton* Option5 = nullptr;
    QRadioButton* Option6 = nullptr;
    QRadioButton* Option7 = nullptr;
    QCheckBox* Check1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text7 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Text5 = nullptr; // the NOTE, in a read-only box's frame
    QLabel* Picture1 = nullptr;
    QAction* mnuClose = nullptr;
    QMap<QString, QAction*> menuItems;

    platform::Services services() const { return services_; }
    // The state a fill works on: this window's and the process-wide.
    engine::FillState fillState();
    // How the last fill of this window ended.
    engine::FillOutcome lastFill;
    // Tests put their own volume behind the fills.
    engine::FillTargetFactory fillTargetFactory;

    // What a fill shows here.
    void setStatus(const QString& text) override;
    // The way back from the file wipe window.
    void showWindow() override;
    bool showDrive(const QString& driveEntry) override;
    void wipeFreeSpaceAgreed(std::int16_t wipeLevel) override;
    void keepNtfsOffWithoutSystemRoot();
    void setDetail(const QString& text) override;
    void setPercent(const QString& text) override;
    void setProcessTime(const QString& text) override;
    void setProgress(std::int64_t value, std::int64_t maximum) override;
    void setProcessControlsEnabled(bool enabled) override;
    void selectWipeOption(bool complete) override;
    void resetAfterFill() override;
    void offerStop(bool offered) override;
    bool stopRequested() const override { return StopRequested; }
    // What the entire-drive wipe does here.
    void lockChoices() override;
    QString selectedDriveEntry() const override;
    void unlockAfterRefusal() override;
    void showFormatType(int formatType) override;
    void lockForShortWipe() override;
    void resetAfterDriveWipe() override;
    DriveWipeResult lastDriveWipe = DriveWipeResult::Refused;

protected:
    void closeEvent(QCloseEvent* event) override; // the close query

private:
    // The window, built in the order it reads.
    void buildUi();
    QVBoxLayout* createChoiceColumn();
    QGroupBox* createDriveGroup();
    QGroupBox* createWipeGroup();
    QGroupBox* createFileGroup();
    QGroupBox* createFormatGroup();
    QVBoxLayout* createProcessColumn();
    QHBoxLayout* createTypeRow();
    QGridLayout* createStatusRows();
    QGridLayout* createButtonRow();
    QLabel* createNote();
    void createMenus();
    void connectHandlers();
    void form_load();
    void forceFatForRemovable();
    void showDriveInfo(const QString& drive);
    void wipeSteps();
    const ProcessType* chosenProcessType() const;
    bool driveStillNamesItsMount();
    bool typeStillToChoose();
    void endProgram();
    void closeAsAsked();

    // The process types' handlers, then the process branches.
    void startEntireDriveWipe();
    void startFileWipe();
    void startFreeSpaceWipe();
    void runEntireDrive();
    void runFreeSpace();
    void openFileWipeWindow(const QString& code);

    platform::Services services_;
    std::function<void()> endProgram_;
    session::ProcessSettings& s_;
};

} // namespace app
