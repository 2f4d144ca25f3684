#pragma once
// The folder and file wipe window: the folder tree of one drive, the files
// of the folder chosen in it, attribute filters and, in file mode, the
// file-type selector. The main window opens it for the process types "Sel"
// (folder mode: every listed file goes, then the folder) and "Fil" (file
// mode: only the files the user selects). Cancel goes back to a new main
// window, which can take over with a free-space wipe of the same drive.
#include "session/settings.h"
#include "filewipe/wipeprocedure.h"
#include "infodb/recordset.h"
#include "platform/services.h"

#include <QMainWindow>
#include <QMap>
#include <cstdint>
#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidgetItem;

namespace controls {
class DriveListBox;
class FileListBox;
}
namespace tree {
class FolderTree;
}

namespace filewipe {

// The main window as this one hands back to it: the program's first window
// sits above this room, which knows it only through these.
class MainWindow {
public:
    virtual ~MainWindow() = default;
    virtual void showWindow() = 0;
    // Shows the drive list entry; false when the list has no such drive.
    virtual bool showDrive(const QString& driveEntry) = 0;
    virtual void setStatus(const QString& text) = 0;
    // Wipes the free space of the drive shown at `wipeLevel`, its choices
    // locked, after the user agreed here.
    virtual void wipeFreeSpaceAgreed(std::int16_t wipeLevel) = 0;
};

// Makes the main window this window goes back to (a new one each time).
using MainWindowFactory = std::function<MainWindow*()>;

class Form2 : public QMainWindow, public FileWipeView {
    Q_OBJECT
public:
    // `newMainWindow` makes the main window that Cancel shows; `endProgram`
    // ends the program at once (tests record it instead).
    explicit Form2(platform::Services services, MainWindowFactory newMainWindow,
                   std::function<void()> endProgram = {}, QWidget* parent = nullptr);
    ~Form2() override;

    // Handlers, named as the window's events.
    void Drive1_Change();
    void TreeView1_NodeClick(QTreeWidgetItem* node);
    void File1_Click(int index);
    void Combo1_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    // Window fields.
    QString TreeFolder;     // folder chosen in the tree, with a trailing backslash
    QString FileTypeChoice; // text of Combo1 at its last click
    std::int16_t ClosingByCancel = 0;
    std::int16_t WipeInProgress = 0;
    // While a wipe runs, Cancel is its Stop.
    bool StopRequested = false;
    tree::FolderTree* TreeWindow = nullptr; // the tree the hooks and image list act on
    QString CurrentFile;
    std::int64_t FileLength = 0;

    // The drive path File1 lists ("t:\docs"); empty when it lists nothing.
    QString File1Path() const { return file1Path_; }
    // The file-type table and its connection are held.
    bool databaseOpen() const { return exts_.isOpen(); }

    // Controls, by their classic names.
    tree::FolderTree* TreeView1 = nullptr;
    controls::DriveListBox* Drive1 = nullptr;
    controls::FileListBox* File1 = nullptr;
    QLabel* Label2 = nullptr;    // "FILE TYPE SELECTOR"
    QComboBox* Combo1 = nullptr; // file types, file mode only
    QLineEdit* Text3 = nullptr;  // "ALL" in Combo1's place in folder mode
    QLabel* Label1 = nullptr;    // heading of the attribute filters
    QFrame* Frame1 = nullptr;
    QCheckBox* Check1 = nullptr; // System
    QCheckBox* Check2 = nullptr; // Hidden
    QCheckBox* Check3 = nullptr; // Read-Only
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;        // the filters apply at the next tree click
    QPushButton* Command1 = nullptr; // Wipe
    QPushButton* Command2 = nullptr; // SELECT ALL
    QPushButton* Command3 = nullptr; // Cancel
    QLineEdit* Text2 = nullptr;      // status line
    QLabel* Label8 = nullptr;        // "Files Being Wiped"
    QLineEdit* Text4 = nullptr;      // files still to go
    QLabel* Label7 = nullptr;        // "TIME"
    QLineEdit* Text1 = nullptr;      // time run and left during long passes
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Picture1 = nullptr;
    QLabel* Picture2 = nullptr;
    QAction* mnuClose = nullptr;
    QMap<QString, QAction*> menuItems;
    // How the last wipe of this window ended.
    FileWipeResult lastWipe;

    // What the wipe sees of this window.
    int entryCount() const override;
    QString entryName(int index) const override;
    platform::FileId entryId(int index) const override;
    bool entrySelected(int index) const override;
    void selectEntry(int index) override;
    QString listFolder() const override { return File1Path(); }
    QString driveEntry() const override;
    void setStatus(const QString& text) override;
    void lockForWipe() override;
    void showFilesLeft(std::int32_t filesLeft) override;
    void showTimeBox(bool shown) override;
    void setTime(const QString& text) override;
    void setProgress(std::int64_t value, std::int64_t maximum) override;
    void driveChange() override { Drive1_Change(); }
    void closingSteps() override;
    bool stopRequested() const override { return StopRequested; }

protected:
    void closeEvent(QCloseEvent* event) override; // the close query

private:
    void buildUi();
    QWidget* createTreeColumn();
    QWidget* createFileColumn();
    QWidget* createChoiceColumn();
    QWidget* createStatusRow();
    void connectHandlers();
    void form_load();
    void applyMode();
    void setUpTree();
    void openDatabase();
    void rebuildTypeList();
    bool pointFileList(const QString& drivePath, bool quiet = false);
    void releaseWindow();
    // Closes this window and shows a new main window in its place.
    MainWindow* replaceWithMainWindow();
    void showMainWindow();
    void handOverToFreeSpaceWipe();
    void endProgram();
    // Runs a handler; a failure it did not expect is told, never thrown
    // into the event loop.
    void guarded(const QString& what, const std::function<void()>& handler);

    platform::Services services_;
    MainWindowFactory newMainWindow_;
    std::function<void()> endProgram_;
    session::ProcessSettings& s_;
    bool folderMode_ = false;
    // The wipe level the main window showed: a file wipe counts its passes
    // in the same setting, and the free-space wipe handed over keeps it.
    bool shortWipeChosen_ = false;
    QString file1Path_;
    infodb::Connection database_;
    infodb::Recordset exts_;
};

} // namespace filewipe
