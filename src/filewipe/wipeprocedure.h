#pragma once
// The folder and file wipe behind the Wipe button of the folder and file
// wipe window: every selected file of the list is overwritten 21 or 41
// times, emptied and deleted with its name; a folder wipe then removes the
// folder. Procedure only: the window (or the console) implements the view.
#include "session/settings.h"
#include "filewipe/overwrite.h"
#include "platform/files.h"
#include "platform/services.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace filewipe {

// The window as the wipe sees it: its file list, status and controls.
class FileWipeView : public OverwriteView {
public:
    // The file list `File1`.
    virtual int entryCount() const = 0;
    virtual QString entryName(int index) const = 0;
    // The file the entry named when the list was read (unknown: any file
    // of that name is taken as the chosen one).
    virtual platform::FileId entryId(int index) const = 0;
    virtual bool entrySelected(int index) const = 0;
    virtual void selectEntry(int index) = 0;
    // The folder the list shows, as a drive path ("t:\docs"); empty for none.
    virtual QString listFolder() const = 0;
    // The drive list's current entry.
    virtual QString driveEntry() const = 0;

    virtual void setStatus(const QString& text) = 0;
    // Nothing that changes the list or starts a second run stays enabled
    // while a wipe runs.
    virtual void lockForWipe() = 0;
    // "Files Being Wiped" and its count (folder mode).
    virtual void showFilesLeft(std::int32_t filesLeft) = 0;
    // "TIME" and the time box, shown for large files.
    virtual void showTimeBox(bool shown) = 0;
    // The drive change handling: the tree and list back at the drive root.
    virtual void driveChange() = 0;
    // The closing steps every run ends with (tree pruned, drive change,
    // count hidden, buttons enabled).
    virtual void closingSteps() = 0;
    // Stop was pressed: the run ends before the next pass, naming the file
    // it leaves part-way.
    virtual bool stopRequested() const { return false; }
};

struct FileWipeContext {
    bool folderMode = false;
    QString TreeFolder;                // the tree's folder with its backslash; empty when none
    session::ProcessSettings& settings;    // SelectedDrive, WipeLevel
    std::int16_t& WipeInProgress;
    FileWipeView& view;
    platform::Services services;
    // A free-space wipe of the drive follows (Auto Wipe Free Space, or the
    // console's --free-space): it reaches the copies that copy-on-write left.
    bool freeSpaceFollows = false;
};

struct FileWipeResult {
    int filesChosen = 0;
    int filesWiped = 0;
    int errorNumber = 0;     // the error that ended the run early, 0 if none
    // Chosen files not destroyed, each with what happened to it (left as it
    // was, overwritten so many passes, overwritten but not deleted) and why.
    QStringList givenUp;
    QStringList unverified;  // files whose last pass did not read back as written
    // Wiped files whose old data an overwrite in place did not reach: in the
    // drive's free space (copy-on-write), and elsewhere (shared with another
    // file, an attribute that could not be overwritten).
    QStringList copiesInFreeSpace;
    QStringList copiesElsewhere;
    bool freeSpaceFollows = false;
    bool folderRemoved = false;
    bool declined = false;   // the question before the wipe was answered No: nothing was done
    bool completed() const
    {
        return errorNumber == 0 && givenUp.isEmpty() && unverified.isEmpty() && filesWiped == filesChosen &&
               copiesElsewhere.isEmpty() && (copiesInFreeSpace.isEmpty() || freeSpaceFollows);
    }
};

inline const QString kEntireDriveOnly = QStringLiteral("This folder can only be wiped by doing an Entire Drive Wipe");
inline const QString kNotWipedHeading = QStringLiteral("These files were not wiped:");
inline const QString kNoFolderChosen =
    QStringLiteral("Choose the folder to wipe in the folder tree first.\r\n\r\nNothing was wiped.");

// 20 numbered passes for a file of 1,000,000 bytes or more, 40 below; one
// finalizing pass follows either way.
std::int16_t passCountFor(std::int64_t fileLength);

// The wipe, `Command1_Click`'s work.
FileWipeResult runFileWipe(FileWipeContext& ctx);

} // namespace filewipe
