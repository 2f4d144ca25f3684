// The folder and file wipe window.
//
// What the file list shows is what a wipe destroys, so every way the list is
// pointed at a folder goes through pointFileList: a folder that cannot be read
// is said so by name and leaves the list empty, never showing the files of a
// folder other than the one the window names. A drive change forgets the
// folder chosen in the tree for the same reason.
//
// The window borrows two things that must be given back however it goes:
// the hooks on the tree and on itself (with the tree's image list), and the
// info database's file-type table. Cancel, the close query and the
// destructor all end in releaseWindow.
#include "filewipe/form2.h"

#include "controls/buttoncaption.h"
#include "controls/defaultbutton.h"
#include "controls/drivelistbox.h"
#include "controls/filelistbox.h"
#include "controls/progressbar.h"
#include "controls/screenfit.h"
#include "controls/statusbox.h"
#include "engine/freespacewipe.h"
#include "filewipe/filetypes.h"
#include "filewipe/wipeprocedure.h"
#include "info/logo.h"
#include "info/menus.h"
#include "infodb/infodb.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "tree/foldertree.h"
#include "tree/subclass.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoopLocker>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace filewipe {

namespace {


const QString kDriveNotListed =
    QStringLiteral("The drive %1 is not in the drive list any more.\r\n\r\nThe window shows %2 instead.");
const QString kDriveUnreadable =
    QStringLiteral("The drive %1 cannot be shown: its folder is missing or cannot be read.\r\n\r\n"
                   "Nothing was wiped. Choose another drive.");
const QString kFolderUnreadable = QStringLiteral("The folder %1 cannot be listed:\r\n\r\n%2\r\n\r\n"
                                                 "Nothing was wiped. Choose the folder again in the tree.");
const QString kFileUnreadable =
    QStringLiteral("The length of the file %1 cannot be read:\r\n\r\n%2\r\n\r\nNothing was wiped.");
const QString kHandlerFailed = QStringLiteral("%1 failed:\r\n\r\n%2\r\n\r\nNothing was wiped.");
const QString kAutoWipeRefused =
    QStringLiteral("The free space of %1 was not wiped: that drive is no longer where it was when it was "
                   "chosen.\r\n\r\nChoose the drive again and start the free-space wipe.");

QString closeQuestion()
{
    return platform::joinLines({QStringLiteral("This will close the program even if a process is still running"),
                                QString(), QStringLiteral("Do you want to continue the Close Process?")});
}

QLabel* label(const QString& name, const QString& text)
{
    auto* l = new QLabel(text);
    l->setObjectName(name);
    return l;
}

// A check box drawn without text, its caption a separate label beside it.
QCheckBox* checkRow(QVBoxLayout* into, const QString& name, QLabel*& caption, const QString& labelName,
                    const QString& text)
{
    auto* row = new QHBoxLayout;
    auto* box = new QCheckBox;
    box->setObjectName(name);
    caption = new controls::ButtonCaption(text, box);
    caption->setObjectName(labelName);
    row->addWidget(box);
    row->addWidget(caption, 1);
    into->addLayout(row);
    return box;
}

// The root of the drive a drive-list entry or drive path starts with.
QString rootPathOf(const QString& drive)
{
    return drive.left(2) + u'\\';
}

bool ticked(const QCheckBox* box)
{
    return box->checkState() != Qt::Unchecked;
}

} // namespace

Form2::Form2(platform::Services services, MainWindowFactory newMainWindow, std::function<void()> endProgram,
             QWidget* parent)
    : QMainWindow(parent),
      services_(services),
      newMainWindow_(std::move(newMainWindow)),
      endProgram_(std::move(endProgram)),
      s_(session::settings())
{
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    buildUi();
    controls::DefaultButton::install(this, Command1);
    form_load();
    // Only now: start-up runs the drive change itself, once, after the hooks.
    connectHandlers();
}

Form2::~Form2()
{
    try {
        releaseWindow();
    } catch (const platform::RunTimeError&) {
        // Nothing to tell from a destructor; the table is released anyway.
    }
}

void Form2::buildUi()
{
    setWindowTitle(QStringLiteral("Folder or File Wipe Section"));
    auto* central = new QWidget;
    setCentralWidget(central);
    auto* outer = new QVBoxLayout(central);
    auto* columns = new QHBoxLayout;
    columns->addWidget(createTreeColumn(), 3);
    columns->addWidget(createFileColumn(), 3);
    columns->addWidget(createChoiceColumn(), 2);
    outer->addLayout(columns, 1);
    outer->addWidget(createStatusRow());

    // Menu bar: File, then Help, Tutorials and About.
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    mnuClose = file->addAction(QStringLiteral("&Close"));
    mnuClose->setObjectName(QStringLiteral("mnuClose"));
    menuItems = info::addHelpMenus(menuBar(), info::MenuWindow::FileWipe);
    info::connectHelpMenus(menuItems, info::MenuWindow::FileWipe, this, *services_.prompter);
    controls::resizeWithinScreen(this, QSize(860, 560));
}

QWidget* Form2::createTreeColumn()
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    Drive1 = new controls::DriveListBox(*services_.drives);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    TreeView1 = new tree::FolderTree(nullptr, services_.drives);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    layout->addWidget(Drive1);
    layout->addWidget(TreeView1, 1);
    return column;
}

QWidget* Form2::createFileColumn()
{
    File1 = new controls::FileListBox;
    File1->setObjectName(QStringLiteral("File1"));
    return File1;
}

QWidget* Form2::createChoiceColumn()
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);

    Picture1 = info::makeLogo(QStringLiteral("Picture1"));
    layout->addWidget(Picture1, 0, Qt::AlignHCenter);

    // Combo1 and Text3 share one place; the mode shows one of them.
    Label2 = label(QStringLiteral("Label2"), QStringLiteral("FILE TYPE SELECTOR"));
    Combo1 = new QComboBox;
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Text3 = controls::statusBox(QStringLiteral("Text3"));
    auto* typePlace = new QGridLayout;
    typePlace->addWidget(Combo1, 0, 0);
    typePlace->addWidget(Text3, 0, 0);
    layout->addWidget(Label2);
    layout->addLayout(typePlace);

    Label1 = label(QStringLiteral("Label1"), QStringLiteral("File Types to Include in Wiping"));
    Frame1 = new QFrame;
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::StyledPanel);
    auto* checks = new QVBoxLayout(Frame1);
    Check1 = checkRow(checks, QStringLiteral("Check1"), Label3, QStringLiteral("Label3"), QStringLiteral("System"));
    Check2 = checkRow(checks, QStringLiteral("Check2"), Label4, QStringLiteral("Label4"), QStringLiteral("Hidden"));
    Check3 = checkRow(checks, QStringLiteral("Check3"), Label5, QStringLiteral("Label5"), QStringLiteral("Read-Only"));
    Label6 = label(QStringLiteral("Label6"),
                   QStringLiteral("Make These Selections BEFORE you select the Folder or File you are wiping"));
    Label6->setWordWrap(true);
    layout->addWidget(Label1);
    layout->addWidget(Frame1);
    layout->addWidget(Label6);
    layout->addStretch(1);

    Command1 = new QPushButton(QStringLiteral("Wipe Files"));
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2 = new QPushButton(QStringLiteral("&SELECT ALL"));
    Command2->setObjectName(QStringLiteral("Command2"));
    Command3 = new QPushButton(QStringLiteral("&Cancel"));
    Command3->setObjectName(QStringLiteral("Command3"));
    for (QPushButton* b : {Command1, Command2, Command3})
        layout->addWidget(b);

    Picture2 = label(QStringLiteral("Picture2"), {});
    Picture2->setPixmap(style()->standardIcon(QStyle::SP_TrashIcon).pixmap(32, 32));
    layout->addWidget(Picture2, 0, Qt::AlignHCenter);
    return column;
}

QWidget* Form2::createStatusRow()
{
    auto* row = new QWidget;
    auto* grid = new QGridLayout(row);
    grid->setContentsMargins(0, 0, 0, 0);
    Text2 = controls::statusBox(QStringLiteral("Text2"));
    Label8 = label(QStringLiteral("Label8"), QStringLiteral("Files Being Wiped"));
    Text4 = controls::statusBox(QStringLiteral("Text4"));
    Label7 = label(QStringLiteral("Label7"), QStringLiteral("TIME"));
    Text1 = controls::statusBox(QStringLiteral("Text1"));
    Text4->setFixedWidth(80);
    Text1->setMinimumWidth(Text1->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00, about 00:00:00 left")) + 12);
    // Shown only while a wipe runs (the count in folder mode, the time
    // during the passes over a large file).
    for (QWidget* w : std::initializer_list<QWidget*>{Label8, Text4, Label7, Text1})
        w->setVisible(false);
    Text4->setEnabled(false);
    ProgressBar1 = new QProgressBar;
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setValue(0);
    grid->addWidget(Text2, 0, 0);
    grid->addWidget(Label8, 0, 1);
    grid->addWidget(Text4, 0, 2);
    grid->addWidget(Label7, 0, 3);
    grid->addWidget(Text1, 0, 4);
    grid->addWidget(ProgressBar1, 1, 0, 1, 5);
    grid->setColumnStretch(0, 1);
    return row;
}

void Form2::connectHandlers()
{
    connect(Drive1, &controls::DriveListBox::driveChanged, this,
            [this] { guarded(QStringLiteral("The drive change"), [this] { Drive1_Change(); }); });
    connect(TreeView1, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node, int) {
        guarded(QStringLiteral("The folder choice"), [this, node] { TreeView1_NodeClick(node); });
    });
    connect(File1, &controls::FileListBox::entryClicked, this, [this](int index) {
        guarded(QStringLiteral("The file choice"), [this, index] { File1_Click(index); });
    });
    connect(Combo1, &QComboBox::activated, this,
            [this](int) { guarded(QStringLiteral("The file type choice"), [this] { Combo1_Click(); }); });
    connect(Command1, &QPushButton::clicked, this,
            [this] { guarded(QStringLiteral("The wipe"), [this] { Command1_Click(); }); });
    connect(Command2, &QPushButton::clicked, this,
            [this] { guarded(QStringLiteral("SELECT ALL"), [this] { Command2_Click(); }); });
    connect(Command3, &QPushButton::clicked, this,
            [this] { guarded(QStringLiteral("Cancel"), [this] { Command3_Click(); }); });
    connect(mnuClose, &QAction::triggered, this, &QWidget::close);
}

void Form2::guarded(const QString& what, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const platform::RunTimeError& e) {
        services_.prompter->message(kHandlerFailed.arg(what, e.description()));
    } catch (const std::exception& e) {
        services_.prompter->message(kHandlerFailed.arg(what, QString::fromLocal8Bit(e.what())));
    }
}

void Form2::form_load()
{
    ClosingByCancel = 0;
    shortWipeChosen_ = s_.WipeLevel == session::ShortWipe;
    openDatabase();
    if (s_.SelectedDrive.isEmpty())
        s_.SelectedDrive = rootPathOf(s_.SystemRootPath);
    // The main window's choice is a list entry ("t: [/mnt/x]"); its letter
    // names the root this window opens on.
    s_.SelectedDrive = rootPathOf(s_.SelectedDrive);
    pointFileList(s_.SelectedDrive, true);
    if (!Drive1->setDrive(s_.SelectedDrive)) {
        services_.prompter->message(
            kDriveNotListed.arg(s_.SelectedDrive.left(2).toUpper(), Drive1->drive()));
    }
    applyMode();
    setUpTree();
    // The image list first: the tree's hook refuses every later one.
    tree::HookFolderTree(TreeView1, this, services_.prompter);
    Drive1_Change();
}

void Form2::openDatabase()
{
    try {
        database_ = infodb::Connection::open();
        exts_ = infodb::Recordset(database_, QString::fromLatin1(infodb::kExtsTable));
    } catch (const platform::RunTimeError& e) {
        // The window works without it; the type list is then made in memory.
        exts_ = infodb::Recordset();
        database_.release();
        infodb::reportOnce(*services_.prompter, e);
    }
}

void Form2::applyMode()
{
    folderMode_ = s_.ProcessCode == QStringLiteral("Sel");
    setWindowTitle(folderMode_ ? QStringLiteral("Folder Wipe Routine") : QStringLiteral("File Wipe Routine"));
    if (folderMode_) {
        for (QCheckBox* box : {Check1, Check2, Check3}) {
            box->setChecked(true);
            box->setEnabled(false);
        }
    }
    Command1->setText(folderMode_ ? QStringLiteral("&Wipe Folder(s)") : QStringLiteral("&Wipe File(s)"));
    Combo1->setEnabled(!folderMode_);
    Combo1->setVisible(!folderMode_);
    Text3->setVisible(folderMode_);
    Text3->setText(folderMode_ ? kAllTypes : QString());
}

void Form2::setUpTree()
{
    // The chosen folder stays marked while the user works elsewhere.
    QPalette palette = TreeView1->palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    TreeView1->setPalette(palette);
    TreeView1->setIndentation(19);
    // Nodes stand for folders on the disk: they are never renamed here.
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeWindow = TreeView1;
}

bool Form2::pointFileList(const QString& drivePath, bool quiet)
{
    try {
        const auto native = services_.drives->table().toNative(drivePath);
        if (!native)
            throw platform::RunTimeError(platform::ErrDeviceUnavailable, drivePath);
        // The list itself shows an unreadable folder as an empty one.
        platform::listRegularFiles(*native);
        File1->setPath(*native);
        file1Path_ = drivePath;
        return true;
    } catch (const platform::RunTimeError& e) {
        File1->setPath({});
        file1Path_.clear();
        if (!quiet)
            services_.prompter->message(kFolderUnreadable.arg(drivePath, e.description()));
        return false;
    }
}

void Form2::Drive1_Change()
{
    // A folder chosen on the drive before is not on this one.
    TreeFolder.clear();
    const QString root = rootPathOf(Drive1->drive());
    if (!tree::LoadDriveTree(TreeView1, root)) {
        File1->setPath({});
        file1Path_.clear();
        services_.prompter->message(kDriveUnreadable.arg(Drive1->drive()));
        return;
    }
    pointFileList(root);
}

void Form2::TreeView1_NodeClick(QTreeWidgetItem* node)
{
    FileTypeChoice.clear();
    const QString tag = tree::NodeTag(node);
    if (!pointFileList(tag)) {
        TreeFolder.clear();
        Combo1->clear();
        return;
    }
    TreeFolder = tree::QualifyPath(File1Path());
    File1->setShowSystem(ticked(Check1));
    File1->setShowHidden(ticked(Check2));
    File1->setShowReadOnly(ticked(Check3));
    if (folderMode_) {
        Text3->setText(kAllTypes);
        return;
    }
    File1->setPattern(kAllFiles);
    if (pointFileList(tag))
        rebuildTypeList();
}

void Form2::rebuildTypeList()
{
    QStringList names;
    for (int i = 0; i < File1->listCount(); ++i)
        names << File1->entry(i);
    QStringList entries;
    if (exts_.isOpen()) {
        try {
            entries = rebuildFileTypes(exts_, names);
        } catch (const platform::RunTimeError& e) {
            infodb::reportOnce(*services_.prompter, e);
            entries = typeChoices(names);
        }
    } else {
        entries = typeChoices(names); // the missing database was reported at start-up
    }
    const QSignalBlocker quiet(Combo1);
    Combo1->clear();
    Combo1->addItems(entries);
}

void Form2::Combo1_Click()
{
    FileTypeChoice = Combo1->currentText();
    File1->setPattern(patternForChoice(FileTypeChoice));
    if (!TreeFolder.isEmpty())
        pointFileList(TreeFolder);
}

void Form2::File1_Click(int index)
{
    if (index < 0 || index >= File1->listCount())
        return;
    CurrentFile = tree::QualifyPath(File1Path()) + File1->entry(index);
    try {
        const auto native = services_.drives->table().toNative(CurrentFile);
        if (!native)
            throw platform::RunTimeError(platform::ErrDeviceUnavailable, CurrentFile);
        FileLength = platform::fileLength(*native);
    } catch (const platform::RunTimeError& e) {
        FileLength = 0;
        services_.prompter->message(kFileUnreadable.arg(CurrentFile, e.description()));
    }
}

void Form2::Command1_Click()
{
    FileWipeContext ctx{folderMode_, TreeFolder, s_, WipeInProgress, *this, services_, s_.AutoWipeFree == 1};
    lastWipe = runFileWipe(ctx);
}

int Form2::entryCount() const
{
    return File1->listCount();
}

QString Form2::entryName(int index) const
{
    return File1->entry(index);
}

platform::FileId Form2::entryId(int index) const
{
    return File1->entryId(index);
}

bool Form2::entrySelected(int index) const
{
    return File1->selected(index);
}

void Form2::selectEntry(int index)
{
    File1->setSelected(index, true);
}

QString Form2::driveEntry() const
{
    return Drive1->drive();
}

void Form2::setStatus(const QString& text)
{
    Text2->setText(text);
    Text2->repaint();
}

void Form2::lockForWipe()
{
    // The list must not change under the running loop.
    for (QWidget* w : std::initializer_list<QWidget*>{Command1, Command2, TreeView1, Drive1, Combo1})
        w->setEnabled(false);
    StopRequested = false;
    Command3->setText(QStringLiteral("&Stop"));
}

void Form2::showFilesLeft(std::int32_t filesLeft)
{
    Label8->setVisible(true);
    Text4->setVisible(true);
    Text4->setEnabled(true);
    Text4->setText(QString::number(filesLeft));
    Text4->repaint();
}

void Form2::showTimeBox(bool shown)
{
    Label7->setVisible(shown);
    Text1->setVisible(shown);
}

void Form2::setTime(const QString& text)
{
    Text1->setText(text);
    Text1->repaint();
}

void Form2::setProgress(std::int64_t value, std::int64_t maximum)
{
    // An empty bar at the end, not a busy one.
    controls::setScaledProgress(ProgressBar1, value, std::max<std::int64_t>(maximum, 1));
}

void Form2::closingSteps()
{
    Command3->setText(QStringLiteral("&Cancel"));
    StopRequested = false;
    if (TreeView1->topLevelItemCount() > 0)
        tree::PruneCollapsedNodes(TreeView1->topLevelItem(0));
    for (QWidget* w : std::initializer_list<QWidget*>{Command1, Command3, Command2, TreeView1, Drive1})
        w->setEnabled(true);
    Combo1->setEnabled(!folderMode_);
    Drive1_Change();
    File1->setChoosable(!folderMode_);
    Label8->setVisible(false);
    Text4->setVisible(false);
    Text4->setEnabled(false);
}

void Form2::Command2_Click()
{
    for (int i = File1->listCount() - 1; i >= 0; --i)
        File1->setSelected(i, true);
}

void Form2::Command3_Click()
{
    if (WipeInProgress == 1) {
        StopRequested = true;
        Command3->setEnabled(false);
        setStatus(QStringLiteral("Stopping after this pass"));
        return;
    }
    ClosingByCancel = 1;
    tree::UnhookFolderTree(TreeView1);
    {
        // The window is leaving: no tree is loaded for this drive.
        const QSignalBlocker quiet(Drive1);
        Drive1->setDrive(s_.SystemDrive);
    }
    if (s_.AutoWipeFree != 1)
        showMainWindow();
    else
        handOverToFreeSpaceWipe();
}

MainWindow* Form2::replaceWithMainWindow()
{
    releaseWindow();
    // Between this window and the next there is none: the program must not
    // take that moment for its end.
    const QEventLoopLocker keepRunning;
    close();
    MainWindow* main = newMainWindow_();
    main->showWindow();
    return main;
}

void Form2::showMainWindow()
{
    replaceWithMainWindow()->showDrive(s_.SystemDrive);
}

void Form2::handOverToFreeSpaceWipe()
{
    // Read before the new main window's start-up: its move to the system
    // drive counts as a drive change.
    const QString drive = s_.LastSelectedDrive;
    const std::int16_t level = shortWipeChosen_ ? session::ShortWipe : session::CompleteWipe;
    // Never the free space of another volume than the one chosen; and never
    // without a Yes to the question that says which.
    const bool current = platform::driveEntryIsCurrent(drive, services_.drives->table());
    const bool agreed =
        current && services_.prompter->confirm(
                       QStringLiteral("Cancel, then wipe %1?").arg(engine::freeSpaceWipeText(services_, drive, level)));
    MainWindow* main = replaceWithMainWindow();
    if (current && !agreed) {
        main->setStatus(QStringLiteral("The free space was not wiped"));
        return;
    }
    if (!current || !main->showDrive(drive)) {
        services_.prompter->message(kAutoWipeRefused.arg(drive.left(2).toUpper()));
        return;
    }
    main->wipeFreeSpaceAgreed(level);
}

void Form2::releaseWindow()
{
    // The tree's hook goes first (it would refuse the image list's detach),
    // then the image list and the nodes. The window's own hook goes with it.
    tree::UnhookFolderTree(TreeView1);
    exts_.release();
    database_.release();
}

void Form2::closeEvent(QCloseEvent* event)
{
    if (ClosingByCancel != 1 && WipeInProgress == 1) {
        // Ending the program abandons the wipe: No is the default.
        if (!services_.prompter->confirm(closeQuestion())) {
            event->ignore();
            return;
        }
        releaseWindow();
        event->accept();
        endProgram();
        return;
    }
    releaseWindow();
    event->accept();
}

void Form2::endProgram()
{
    // What a running wipe must not leave behind is put right first.
    platform::runEndOfProgramCleanups();
    if (endProgram_) {
        endProgram_();
        return;
    }
    // The running wipe is abandoned where it stands.
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace filewipe
