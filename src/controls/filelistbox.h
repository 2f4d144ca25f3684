#pragma once
// The classic file list: the regular files of one folder that match one or
// more ';'-separated wildcard patterns (without regard to case), filtered by
// the system, hidden and read-only attributes, several selectable.
//
// A view over a model of the folder's entries: a folder of 100,000 files is
// read, filtered and sorted off the user-interface thread and shown in one
// reset, where a widget item per file kept the window frozen for seconds.
#include "platform/files.h"

#include <QAbstractListModel>
#include <QListView>
#include <QString>
#include <vector>

namespace controls {

// The entries of the list: each file's name (its bytes, reversibly), the
// name as a person reads it, and the file it named when the folder was read.
class FileListModel : public QAbstractListModel {
    Q_OBJECT
public:
    struct Entry {
        QString name;
        QString shown;
        platform::FileId id;
    };
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    void reset(std::vector<Entry> entries);
    const Entry* at(int row) const;

private:
    std::vector<Entry> entries_;
};

class FileListBox : public QListView {
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent = nullptr);

    // Native folder listed. Setting it lists it again.
    QString path() const { return path_; }
    void setPath(const QString& nativeFolder);
    QString pattern() const { return pattern_; }
    void setPattern(const QString& pattern);

    // Whether files with these attributes are listed (normal files always
    // are). Defaults: hidden and system off, read-only on.
    bool showHidden() const { return hidden_; }
    void setShowHidden(bool on);
    bool showSystem() const { return system_; }
    void setShowSystem(bool on);
    bool showReadOnly() const { return readOnly_; }
    void setShowReadOnly(bool on);

    int listCount() const { return model_.rowCount(); }
    // The entry's file name (its bytes, reversibly) and the file it named
    // when the folder was read.
    QString entry(int index) const;
    platform::FileId entryId(int index) const;
    bool selected(int index) const;
    void setSelected(int index, bool on);
    int selectedCount() const;

    // Reads the folder again. A folder that cannot be read lists nothing.
    void refresh();
    // Whether the user picks the entries (file mode). Otherwise (folder
    // mode) the list shows every file that goes, readable, not greyed.
    void setChoosable(bool on);
    bool choosable() const { return selectionMode() != QAbstractItemView::NoSelection; }

signals:
    // An entry was clicked (its row).
    void entryClicked(int index);

private:
    FileListModel model_;
    QString path_;
    QString pattern_ = QStringLiteral("*.*");
    bool hidden_ = false;
    bool system_ = false;
    bool readOnly_ = true;
    int generation_ = 0; // a refresh started during another's wait wins
};

// Whether `name` matches one of the ';'-separated patterns, without regard
// to case. "*.*" matches every name, a name without a dot included.
bool matchesPattern(const QString& name, const QString& patterns);

} // namespace controls
