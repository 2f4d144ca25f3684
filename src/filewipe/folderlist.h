#pragma once
// The file list of one folder without a window: what the command line wipes,
// and what tests drive the wipe with. It lists the folder's regular files
// (hidden and read-only ones too) in the order the window's list shows them
// and keeps what the wipe shows, for a subclass to print.
#include "filewipe/wipeprocedure.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace filewipe {

class FolderList : public FileWipeView {
public:
    // `drivePath` is the folder as a drive path ("t:\docs"); `nativeFolder`
    // the folder it stands for.
    FolderList(QString drivePath, const QString& nativeFolder);

    const QStringList& names() const { return names_; }
    // Chooses the entries with these names; false when one is not listed.
    bool choose(const QStringList& names);
    // Chooses the entry of this file; false when none lists it.
    bool choose(platform::FileId id);

    int entryCount() const override { return int(names_.size()); }
    QString entryName(int index) const override { return names_.value(index); }
    platform::FileId entryId(int index) const override { return ids_.value(index); }
    bool entrySelected(int index) const override { return selected_[std::size_t(index)]; }
    void selectEntry(int index) override { selected_[std::size_t(index)] = true; }
    QString listFolder() const override { return drivePath_; }
    QString driveEntry() const override { return drivePath_.left(2); }
    void setStatus(const QString& text) override { statuses << text; }
    void lockForWipe() override { locked = true; }
    void showFilesLeft(std::int32_t filesLeft) override { this->filesLeft = filesLeft; }
    void showTimeBox(bool shown) override { timeBoxShown = shown; }
    void setTime(const QString&) override {}
    void setProgress(std::int64_t value, std::int64_t maximum) override
    {
        progressValue = value;
        progressMaximum = maximum;
    }
    void driveChange() override {}
    void closingSteps() override { locked = false; }

    QStringList statuses;
    bool locked = false;
    bool timeBoxShown = false;
    std::int32_t filesLeft = -1;
    std::int64_t progressValue = 0, progressMaximum = 0;

private:
    QString drivePath_;
    QStringList names_;
    QList<platform::FileId> ids_;
    std::vector<bool> selected_;
};

} // namespace filewipe
