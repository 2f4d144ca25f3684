#include "app/form1.h"
#include "controls/defaultbutton.h"
#include "controls/screenfit.h"
#include "controls/buttoncaption.h"
#include "controls/drivelistbox.h"
#include "controls/filelistbox.h"
#include "controls/progressbar.h"
#include "controls/statusbox.h"
#include "drives/driveinfo.h"
#include "filewipe/form2.h"
#include "info/logo.h"
#include "info/menus.h"
#include "app/frmdisk.h"
#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/shutdown.h"
#include "records/frmrecords.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoopLocker>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace app {

namespace {
const QString kP98Set = QStringLiteral("P98 SET");
const QString kProgramDriveWarning =
    QStringLiteral("You CAN NOT FORMAT the drive this program is installed on");
const QString kMustSelect = QStringLiteral("You MUST select a process type");
const QString kNoDrives =
    QStringLiteral("There is no drive to wipe: the drive list is empty. The program lists the file systems that are "
                   "mounted (or, where ZARVEX_DRIVES is set, the folders it maps to letters), and found none. Mount "
                   "the drive, then press Wipe again.");
const QString kFolderAccess =
    QStringLiteral("The folder may have to be deleted manually or was not empty");
const QString kCaution = QStringLiteral(
    "CAUTION:  This program is designed to wipe all traces of any data, files or folders that "
    "you run this program against.  Orvane Software is not responsible for data that is lost "
    "when you run this program since the purpose of this program is to permanently destroy the "
    "data from the disc making it unrecoverable.");
const QString kNote = QStringLiteral(
    "NOTE:  This product DOES NOT work on CD-RW or DVD media. This is by design, since the media "
    "is very\neasy to destroy without using a program, (you can scratch or break a CD or DVD to "
    "destroy it).");

QString closeQuestion()
{
    return platform::joinLines({QStringLiteral("This will close the program even if a process is still running"),
                                QString(), QStringLiteral("Do you want to continue the Close Process?")});
}

// A group's rows close together: the window fits a 1280x1024 screen at
// twice the scale.
void tighten(QLayout* layout)
{
    layout->setContentsMargins(8, 2, 8, 4);
    layout->setSpacing(2);
}

// An option button drawn without text, with its caption as a separate label.
QRadioButton* optionRow(QVBoxLayout* into, const QString& name, const QString& caption,
                        const QString& tip)
{
    auto* row = new QHBoxLayout;
    auto* button = new QRadioButton;
    button->setObjectName(name);
    button->setToolTip(tip);
    auto* label = new controls::ButtonCaption(caption, button);
    label->setObjectName(name + QStringLiteral("Label"));
    label->setToolTip(tip);
    row->addWidget(button);
    row->addWidget(label, 1);
    into->addLayout(row);
    return button;
}

} // namespace

QString processCodeOf(const QString& comboText)
{
    return comboText.mid(14, 3);
}

const std::vector<ProcessType>& Form1::processTypes()
{
    using records::ProcessKind;
    static const std::vector<ProcessType> table = {
        {QStringLiteral("Ent"), ProcessKind::EntireDrive, QStringLiteral("&Wipe Drive"), true, &Form1::startEntireDriveWipe},
        {QStringLiteral("Sel"), ProcessKind::Folder, QStringLiteral("&Wipe Folders"), false, &Form1::startFileWipe},
        {QStringLiteral("Fil"), ProcessKind::Files, QStringLiteral("&Wipe Files"), false, &Form1::startFileWipe},
        {QStringLiteral("Fre"), ProcessKind::FreeSpace, QStringLiteral("&Wipe Free Space"), true, &Form1::startFreeSpaceWipe},
    };
    return table;
}

QString withRootBackslash(const QString& drive)
{
    return drive.endsWith(u':') ? drive + u'\\' : drive;
}


Form1::Form1(platform::Services services, std::function<void()> endProgram, QWidget* parent)
    : QMainWindow(parent), services_(services), endProgram_(std::move(endProgram)), s_(session::settings())
{
    setObjectName(QStringLiteral("Form1"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    buildUi();
    controls::DefaultButton::install(this, Command1);
    form_load();
}

Form1::~Form1() = default;

// The window as a table of contents: the choices on the left, the process
// on the right, the NOTE below, then the menus and the handlers.
void Form1::buildUi()
{
    setWindowTitle(QStringLiteral("The Zarvex Drive Wiper and Quellix"));
    auto* central = new QWidget;
    setCentralWidget(central);
    auto* outer = new QVBoxLayout(central);
    auto* columns = new QHBoxLayout;
    outer->addLayout(columns, 1);
    columns->addLayout(createChoiceColumn());
    columns->addLayout(createProcessColumn(), 1);
    outer->addWidget(createNote());
    createMenus();
    connectHandlers();
    controls::resizeWithinScreen(this, QSize(780, 540));
}

// Left column: logo, drive, wipe options, file and folder wipes, format type.
QVBoxLayout* Form1::createChoiceColumn()
{
    auto* left = new QVBoxLayout;
    Picture1 = info::makeLogo(QStringLiteral("Picture1"));
    left->addWidget(Picture1);
    left->addWidget(createDriveGroup());
    left->addWidget(createWipeGroup());
    left->addWidget(createFileGroup());
    left->addWidget(createFormatGroup());
    left->addStretch(1);
    return left;
}

// Alt+S reaches the drive list, Alt+P the process type.
QGroupBox* Form1::createDriveGroup()
{
    auto* driveGroup = new QGroupBox(QStringLiteral("&Select Drive"));
    auto* driveLayout = new QVBoxLayout(driveGroup);
    tighten(driveLayout);
    Drive1 = new controls::DriveListBox(*services_.drives);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setToolTip(QStringLiteral("Drive to Process"));
    Drive1->setMinimumWidth(180);
    driveLayout->addWidget(Drive1);
    return driveGroup;
}

QGroupBox* Form1::createWipeGroup()
{
    auto* wipeGroup = new QGroupBox(QStringLiteral("Wipe Options"));
    auto* wipeLayout = new QVBoxLayout(wipeGroup);
    tighten(wipeLayout);
    Option6 = optionRow(wipeLayout, QStringLiteral("Option6"), QStringLiteral("Complete Wipe"),
                        QStringLiteral("This option makes a Drive COMPLETELY UNRECOVERABLE"));
    Option7 = optionRow(wipeLayout, QStringLiteral("Option7"), QStringLiteral("Short Wipe"),
                        QStringLiteral("This option MAY leave some information Recoverable"));
    return wipeGroup;
}

QGroupBox* Form1::createFileGroup()
{
    auto* fileGroup = new QGroupBox(QStringLiteral("File and Folder Wipes"));
    auto* fileLayout = new QHBoxLayout(fileGroup);
    tighten(fileLayout);
    Check1 = new QCheckBox;
    Check1->setObjectName(QStringLiteral("Check1"));
    auto* checkLabel = new controls::ButtonCaption(QStringLiteral("Auto Wipe Free Space"), Check1);
    fileLayout->addWidget(Check1);
    fileLayout->addWidget(checkLabel, 1);
    return fileGroup;
}

QGroupBox* Form1::createFormatGroup()
{
    auto* formatGroup = new QGroupBox(QStringLiteral("Format Type"));
    auto* formatLayout = new QVBoxLayout(formatGroup);
    tighten(formatLayout);
    Option5 = optionRow(formatLayout, QStringLiteral("Option5"), QStringLiteral("NTFS"),
                        QStringLiteral("Use this Format for Windows NT, 2000 and XP"));
    Option4 = optionRow(formatLayout, QStringLiteral("Option4"), QStringLiteral("Fat32"),
                        QStringLiteral("Use this Format for Windows 95, 98 and ME"));
    Option3 = optionRow(formatLayout, QStringLiteral("Option3"), QStringLiteral("Fat - Floppy or Zip Discs"),
                        QStringLiteral("Use this Format for Removeable Media, Floppy and Zip Discs"));
    return formatGroup;
}

// Right side: caution, process type, status lines, progress, buttons.
QVBoxLayout* Form1::createProcessColumn()
{
    auto* right = new QVBoxLayout;
    Label11 = new QLabel(kCaution);
    Label11->setObjectName(QStringLiteral("Label11"));
    Label11->setWordWrap(true);
    right->addWidget(Label11);
    right->addLayout(createTypeRow());
    right->addLayout(createStatusRows());
    ProgressBar1 = new QProgressBar;
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    right->addWidget(ProgressBar1);
    right->addLayout(createButtonRow());
    right->addStretch(1);
    return right;
}

QHBoxLayout* Form1::createTypeRow()
{
    auto* typeRow = new QHBoxLayout;
    auto* typeLabel = new QLabel(QStringLiteral("&PROCESS TYPE"));
    Combo1 = new QComboBox;
    typeLabel->setBuddy(Combo1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    for (const ProcessType& type : processTypes())
        Combo1->addItem(type.listText());
    typeRow->addWidget(typeLabel);
    typeRow->addWidget(Combo1, 1);
    return typeRow;
}

QGridLayout* Form1::createStatusRows()
{
    auto* status = new QGridLayout;
    Text1 = controls::statusBox(QStringLiteral("Text1"));
    Text2 = controls::statusBox(QStringLiteral("Text2"));
    Text7 = controls::statusBox(QStringLiteral("Text7"), QStringLiteral("hh:mm:ss"));
    Text4 = controls::statusBox(QStringLiteral("Text4"));
    Text7->setMinimumWidth(Text7->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00, about 00:00:00 left")) + 12);
    Text4->setFixedWidth(90);
    status->addWidget(Text1, 1, 0);
    status->addWidget(Text2, 2, 0);
    status->addWidget(new QLabel(QStringLiteral("Process Time")), 0, 1);
    status->addWidget(Text7, 1, 1);
    status->addWidget(new QLabel(QStringLiteral("PROGRESS")), 0, 2);
    status->addWidget(Text4, 1, 2);
    status->setColumnStretch(0, 1);
    return status;
}

QGridLayout* Form1::createButtonRow()
{
    auto* buttons = new QGridLayout;
    Command1 = new QPushButton(QStringLiteral("&Wipe Routine"));
    Command1->setObjectName(QStringLiteral("Command1"));
    Command3 = new QPushButton(QStringLiteral("&Close"));
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setEnabled(false);
    Command3->setVisible(false);
    Command2 = new QPushButton(QStringLiteral("&Cancel"));
    Command2->setObjectName(QStringLiteral("Command2"));
    buttons->addWidget(Command1, 0, 0);
    // Cancel and Close share one place; Cancel lies in front.
    buttons->addWidget(Command3, 0, 1);
    buttons->addWidget(Command2, 0, 1);
    Command2->raise();
    return buttons;
}

// A read-only box as tall as its text wraps to, at any width and font:
// a word-wrapping label in a box's frame and colours, never cut.
QLabel* Form1::createNote()
{
    Text5 = new QLabel(kNote);
    Text5->setObjectName(QStringLiteral("Text5"));
    Text5->setWordWrap(true);
    Text5->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    Text5->setMargin(4);
    Text5->setBackgroundRole(QPalette::Base);
    Text5->setAutoFillBackground(true);
    Text5->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QSizePolicy asTallAsItsText(QSizePolicy::Preferred, QSizePolicy::Fixed);
    asTallAsItsText.setHeightForWidth(true);
    Text5->setSizePolicy(asTallAsItsText);
    return Text5;
}

// Menu bar: File, then Help, Tutorials and About.
void Form1::createMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* records = file->addAction(QStringLiteral("Wipe &Records..."));
    records->setObjectName(QStringLiteral("mnuRecords"));
    connect(records, &QAction::triggered, this, [this] { records::showRecordsWindow(*services_.prompter); });
    QAction* disk = file->addAction(QStringLiteral("Wipe Whole &Disk..."));
    disk->setObjectName(QStringLiteral("mnuWipeDisk"));
    connect(disk, &QAction::triggered, this, [this] { showDiskWindow(*services_.prompter); });
    mnuClose = file->addAction(QStringLiteral("&Close"));
    mnuClose->setObjectName(QStringLiteral("mnuClose"));
    menuItems = info::addHelpMenus(menuBar(), info::MenuWindow::Main);
    info::connectHelpMenus(menuItems, info::MenuWindow::Main, this, *services_.prompter);
}

void Form1::connectHandlers()
{
    connect(Drive1, &controls::DriveListBox::driveChanged, this, &Form1::Drive1_Change);
    connect(Combo1, &QComboBox::activated, this, [this](int) { Combo1_click(); });
    connect(Combo1, &QComboBox::currentTextChanged, this, &Form1::showWipeCaption);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Option3, &QRadioButton::clicked, this, &Form1::Option3_Click);
    connect(Option4, &QRadioButton::clicked, this, &Form1::Option4_Click);
    connect(Option5, &QRadioButton::clicked, this, &Form1::Option5_Click);
    connect(Option6, &QRadioButton::clicked, this, &Form1::Option6_Click);
    connect(Option7, &QRadioButton::clicked, this, &Form1::Option7_Click);
    connect(mnuClose, &QAction::triggered, this, &Form1::FileClose_Click);
}

void Form1::form_load()
{
    CloseRequested = 0;
    DriveErrorFlag = 0;
    s_.DriveCategoryKnown = 0;

    const platform::DriveTable table = services_.drives->table();
    if (!s_.SystemRootRead) {
        s_.SystemRootRead = true;
        s_.SystemRootPath = platform::systemRootValue(table);
        if (s_.SystemRootPath.isEmpty()) {
            s_.NoSystemRoot = 1;
            services_.prompter->message(kP98Set);
            s_.SystemRootPath = QStringLiteral("C:\\windows");
        }
    }
    keepNtfsOffWithoutSystemRoot();

    ProgramDrive = platform::programFolder(table).left(2);
    s_.SystemDrive = s_.SystemRootPath.left(2);

    if (s_.WipeLevel == session::ShortWipe) {
        s_.FormatType = session::FormatNtfs;
        Option5->setChecked(true);
        Option7->setChecked(true);
    } else {
        Set_Opts();
    }

    // Selecting the system drive runs the drive-change handling only when it
    // changes the selection. The first window of a run still needs a drive
    // to work on when the list already stood there.
    Drive1->setDrive(s_.SystemDrive);
    if (s_.SelectedDrive.isEmpty()) {
        s_.SelectedDrive = Drive1->drive();
        s_.LastSelectedDrive = s_.SelectedDrive;
    }
    Combo1->setEditText(kSelectProcessType);
    if (Drive1->count() == 0)
        setStatus(QStringLiteral("No drive to wipe: none is mounted"));
}

void Form1::Set_Opts()
{
    Option5->setChecked(true);
    s_.FormatType = session::FormatNtfs;
    Option6->setChecked(true);
    s_.WipeLevel = session::CompleteWipe;
}

void Form1::Option3_Click() { s_.FormatType = session::FormatFat; }
void Form1::Option4_Click() { s_.FormatType = session::FormatFat32; }
void Form1::Option5_Click() { s_.FormatType = session::FormatNtfs; }
void Form1::Option6_Click() { s_.WipeLevel = session::CompleteWipe; }
void Form1::Option7_Click() { s_.WipeLevel = session::ShortWipe; }

void Form1::showDriveInfo(const QString& drive)
{
    drives::ShowDriveInfo(drive, {DriveCategory, s_.DriveCategoryKnown}, *services_.drives,
                          *services_.prompter);
}

void Form1::forceFatForRemovable()
{
    if (processCodeOf(Combo1->currentText()) == QStringLiteral("Ent") &&
        app::forceFatForRemovable(DriveCategory, s_.FormatType)) {
        Option3->setChecked(true);
        services_.prompter->message(removableFatMessage());
    }
}

void Form1::Drive1_Change()
{
    s_.DriveCategoryKnown = 0;
    s_.SelectedDrive = Drive1->drive();
    s_.LastSelectedDrive = s_.SelectedDrive;
    showDriveInfo(s_.SelectedDrive);
    Command3->setVisible(false);
    Command2->setVisible(true);
    Command2->setEnabled(true);
    forceFatForRemovable();
    if (!ProgramDrive.isEmpty() && s_.SelectedDrive.left(2).compare(ProgramDrive, Qt::CaseInsensitive) == 0)
        services_.prompter->message(kProgramDriveWarning);
}

void Form1::Combo1_click()
{
    s_.WipeNowTime = services_.clock->now();
    s_.WipeStartTime = s_.WipeNowTime;
    s_.SelectedDrive = withRootBackslash(Drive1->drive());
    showWipeCaption();
}

// The Wipe button says what it starts, however the process type was set.
void Form1::showWipeCaption()
{
    const ProcessType* type = chosenProcessType();
    Command1->setText(type ? type->caption : QStringLiteral("&Wipe Routine"));
}

// The process type the list's text names, if any.
const ProcessType* Form1::chosenProcessType() const
{
    const QString code = processCodeOf(Combo1->currentText());
    const auto& types = processTypes();
    const auto type = std::find_if(types.begin(), types.end(), [&](const ProcessType& t) { return t.code == code; });
    return type != types.end() ? &*type : nullptr;
}

void Form1::wipeSteps()
{
    s_.ProcessCode = processCodeOf(Combo1->currentText());
    showDriveInfo(s_.SelectedDrive);
    const ProcessType* type = chosenProcessType();
    if (!type) {
        typeStillToChoose();
        return;
    }
    if (type->actsOnDrive && !driveStillNamesItsMount())
        return;
    (this->*type->start)();
}

// False, said, when the letter now means another mount than the one the
// user chose.
bool Form1::driveStillNamesItsMount()
{
    if (platform::driveEntryIsCurrent(s_.SelectedDrive, services_.drives->table()))
        return true;
    services_.prompter->message(
        QStringLiteral("The drives have changed since the list was read: %1 no longer names %2. "
                       "Nothing was wiped; choose the drive again.")
            .arg(s_.SelectedDrive.left(2).toUpper(), s_.SelectedDrive.mid(3)));
    Drive1->refresh();
    return false;
}

// The list still shows its prompt (or a text typed over it): that is said.
bool Form1::typeStillToChoose()
{
    if (Combo1->currentText().left(6) != QStringLiteral("SELECT"))
        return false;
    services_.prompter->message(kMustSelect);
    Combo1->setFocus();
    return true;
}

// The free-space wipe is asked for by name, unless the window that handed
// it over has asked already.
void Form1::startFreeSpaceWipe()
{
    if (!std::exchange(FreeSpaceAgreed, false) &&
        !services_.prompter->confirm(
            QStringLiteral("Wipe %1?").arg(engine::freeSpaceWipeText(services_, Drive1->drive(), s_.WipeLevel)))) {
        setStatus(QStringLiteral("Nothing was wiped"));
        return;
    }
    ProcessRunning = 1;
    runFreeSpace();
    Combo1->setFocus();
}

void Form1::startEntireDriveWipe()
{
    forceFatForRemovable();
    if (!typeStillToChoose())
        runEntireDrive();
}

void Form1::startFileWipe()
{
    if (!typeStillToChoose())
        openFileWipeWindow(s_.ProcessCode);
}

void Form1::Command1_Click()
{
    // Never a second process inside a running one.
    if (ProcessRunning == 1)
        return;
    s_.AutoWipeFree = Check1->isChecked() ? 1 : 0;
    // Without a drive every step below would only say, again and again,
    // that the drive is not ready: say once why there is none.
    if (Drive1->count() == 0)
        Drive1->refresh();
    if (Drive1->count() == 0) {
        services_.prompter->message(kNoDrives);
        return;
    }
    Command3->setEnabled(false);
    Command1->setEnabled(false);

    // A drive that stays away would otherwise restart the handler forever.
    constexpr int kMaxDeviceRetries = 3;
    int retries = 0;
    for (;;) {
        try {
            wipeSteps();
        } catch (const platform::RunTimeError& e) {
            if (e.number() == platform::ErrDeviceUnavailable) {
                if (++retries <= kMaxDeviceRetries)
                    continue;
                services_.prompter->message(drives::kNotReadyMessage);
            } else if (e.number() == platform::ErrPathFileAccess) {
                // The reason the system gave goes with it (which file, what call).
                services_.prompter->message(e.detail().isEmpty()
                                                ? kFolderAccess
                                                : QStringLiteral("%1\r\n\r\n%2").arg(kFolderAccess, e.detail()));
            } else {
                // A failure must never pass in silence.
                services_.prompter->message(
                    QStringLiteral("Error %1: %2").arg(QString::number(e.number()), e.description()));
            }
        } catch (const std::bad_alloc&) {
            services_.prompter->message(QStringLiteral("Error %1: %2").arg(QString::number(platform::ErrOutOfMemory),
                                                                           platform::describeError(platform::ErrOutOfMemory)));
        } catch (const std::exception& e) {
            services_.prompter->message(QStringLiteral("The process stopped: %1").arg(QString::fromLocal8Bit(e.what())));
        }
        break;
    }

    ProcessRunning = 0;
    Command1->setEnabled(true);
    Command3->setVisible(true);
    Command3->setEnabled(true);
}

// Cancel: the Stop of a running fill, else the same as Close.
void Form1::Command2_Click()
{
    if (StopOffered) {
        StopRequested = true;
        Command2->setEnabled(false);
        setStatus(QStringLiteral("Stopping: the fill files are being deleted"));
        return;
    }
    closeAsAsked();
}

void Form1::Command3_Click()
{
    closeAsAsked();
}

// The user asked to close: the close query does not ask again.
void Form1::closeAsAsked()
{
    CloseRequested = 1;
    close();
}

void Form1::FileClose_Click()
{
    close();
}

void Form1::endProgram()
{
    // Whatever a running process must not leave behind (its fill files, a
    // file system's reserve) is put right before the program ends.
    platform::runEndOfProgramCleanups();
    if (endProgram_) {
        endProgram_();
        return;
    }
    if (ProcessRunning == 1 || diskWipeRunning()) {
        // The running procedure is abandoned where it stands.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    QCoreApplication::quit();
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (CloseRequested == 1) {
        event->accept();
        endProgram();
        return;
    }
    if (ProcessRunning == 1 || diskWipeRunning()) {
        // Ending the program abandons the process: No is the default.
        if (services_.prompter->confirm(closeQuestion())) {
            event->accept();
            endProgram();
        } else {
            event->ignore();
        }
        return;
    }
    event->accept();
}

void Form1::runEntireDrive()
{
    EntireDriveContext ctx{fillState(), s_, ProcessRunning, *this, services_, fillTargetFactory};
    lastDriveWipe = runEntireDriveWipe(ctx);
}

void Form1::lockChoices()
{
    for (QWidget* w : std::initializer_list<QWidget*>{Drive1, Option3, Option4, Option5, Option6, Option7, Check1})
        w->setEnabled(false);
}

QString Form1::selectedDriveEntry() const
{
    return Drive1->drive();
}

void Form1::unlockAfterRefusal()
{
    Drive1->setFocus();
    for (QWidget* w : std::initializer_list<QWidget*>{Drive1, Command1, Command2, Option3, Option4, Option5, Option6,
                                                      Option7, Check1})
        w->setEnabled(true);
    keepNtfsOffWithoutSystemRoot();
    Command2->setVisible(true);
    Command3->setVisible(false);
    Command3->setEnabled(false);
}

// NTFS cannot be chosen on a system without a system root: for every main
// window of the run, and after every unlock.
void Form1::keepNtfsOffWithoutSystemRoot()
{
    if (s_.NoSystemRoot == 1)
        Option5->setEnabled(false);
}

void Form1::showFormatType(int formatType)
{
    (formatType == session::FormatFat ? Option3 : formatType == session::FormatFat32 ? Option4 : Option5)->setChecked(true);
}

void Form1::lockForShortWipe()
{
    Command1->setEnabled(false);
    Command2->setText(QStringLiteral("Close"));
    Command2->setEnabled(false);
    Command3->setVisible(true);
    Command3->setEnabled(false);
    Combo1->setEnabled(false);
}

// Back on the system drive once a process has ended. Nobody chose it: the
// warnings that answer a user's choice of drive are not shown, and its facts
// are read again when a process starts on it.
void Form1::returnToSystemDrive()
{
    {
        const QSignalBlocker quiet(Drive1);
        Drive1->setDrive(s_.SystemDrive);
    }
    s_.DriveCategoryKnown = 0;
    s_.SelectedDrive = Drive1->drive();
    s_.LastSelectedDrive = s_.SelectedDrive;
}

// The reset after a fill, then the format type and wipe options as a new
// window starts them.
void Form1::resetAfterDriveWipe()
{
    resetAfterFill();
    for (QWidget* w : std::initializer_list<QWidget*>{Option3, Option4, Option5})
        w->setEnabled(true);
    keepNtfsOffWithoutSystemRoot();
    Set_Opts();
}

void Form1::runFreeSpace()
{
    engine::FillProcedure fill(fillState(), *this, services_);
    if (fillTargetFactory)
        fill.setTargetFactory(fillTargetFactory);
    lastFill = fill.run(engine::freeSpacePasses(s_.WipeLevel));
}

engine::FillState Form1::fillState()
{
    return {s_.SelectedDrive, s_.WipeLevel,     s_.FreeSpaceKB,    s_.WipeStartTime,        s_.WipeNowTime,
            DriveErrorFlag,  PatternCallCount, DriveCategory,     s_.DriveCategoryKnown};
}

// A status box shows its new text at once, even inside a long step.
static void showNow(QLineEdit* box, const QString& text)
{
    box->setText(text);
    box->repaint();
}

void Form1::setStatus(const QString& text) { showNow(Text1, text); }
void Form1::setDetail(const QString& text) { showNow(Text2, text); }
void Form1::setPercent(const QString& text) { showNow(Text4, text); }
void Form1::setProcessTime(const QString& text) { showNow(Text7, text); }

void Form1::setProgress(std::int64_t value, std::int64_t maximum)
{
    controls::setScaledProgress(ProgressBar1, value, maximum);
}

void Form1::setProcessControlsEnabled(bool enabled)
{
    for (QWidget* w : std::initializer_list<QWidget*>{Command1, Command2, Command3, Drive1, Combo1, Option6, Option7})
        w->setEnabled(enabled);
}

void Form1::selectWipeOption(bool complete)
{
    (complete ? Option6 : Option7)->setChecked(true);
}

void Form1::offerStop(bool offered)
{
    StopOffered = offered;
    StopRequested = false;
    Command2->setText(offered ? QStringLiteral("&Stop") : QStringLiteral("&Cancel"));
    if (offered)
        Command2->setEnabled(true);
}

// The one reset at the end of a process: back on the system drive, "Auto
// Wipe Free Space" cleared, the process list asking for a type, the process
// controls usable again.
void Form1::resetAfterFill()
{
    returnToSystemDrive();
    Check1->setChecked(false);
    Check1->setEnabled(true);
    Combo1->setEnabled(true);
    Combo1->setEditText(kSelectProcessType);
    setProcessControlsEnabled(true);
}

void Form1::openFileWipeWindow(const QString& code)
{
    // The main window that comes back is made as this one was.
    auto newMain = [services = services_, end = endProgram_, targets = fillTargetFactory] {
        auto* w = new Form1(services, end);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->fillTargetFactory = targets;
        return w;
    };
    auto* form2 = new filewipe::Form2(services_, newMain, endProgram_);
    form2->setAttribute(Qt::WA_DeleteOnClose);
    form2->Drive1->setDrive(s_.SelectedDrive.left(2));
    s_.ProcessCode = code;
    {
        // Between the two windows there is none: the program must not take
        // that moment for its end.
        const QEventLoopLocker keepRunning;
        close();
        form2->show();
    }
    const bool fileMode = code == QStringLiteral("Fil");
    form2->File1->setChoosable(fileMode);
    form2->Command2->setEnabled(fileMode);
}

void Form1::showWindow()
{
    show();
}

bool Form1::showDrive(const QString& driveEntry)
{
    return Drive1->setDrive(driveEntry);
}

// The hand-over of the file wipe window's Cancel with Auto Wipe Free Space:
// the level it kept, the free-space wipe chosen and locked, agreed already.
void Form1::wipeFreeSpaceAgreed(std::int16_t wipeLevel)
{
    QRadioButton* option = wipeLevel == session::ShortWipe ? Option7 : Option6;
    option->setChecked(true);
    wipeLevel == session::ShortWipe ? Option7_Click() : Option6_Click();
    Drive1->setEnabled(false);
    Combo1->setCurrentIndex(Combo1->findText(records::processName(records::ProcessKind::FreeSpace)));
    Combo1->setEnabled(false);
    Option6->setEnabled(false);
    Option7->setEnabled(false);
    Check1->setChecked(true);
    Check1->setEnabled(false);
    FreeSpaceAgreed = true;
    Command1_Click();
}

} // namespace app
