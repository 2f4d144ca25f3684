#pragma once
// The classic file list: the regular files of one folder that match one or
// more ';'-separated wildcard patterns (without regard to case), filtered by
// the system, hidden and read-only attributes, several selectable.
#include "platform/files.h"

#include <QListWidget>
#include <QString>

namespace controls {

class FileListBox : public QListWidget {
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

    int listCount() const { return count(); }
    // The entry's file name (its bytes, reversibly) and the file it named
    // when the folder was read.
    QString entry(int index) const;
    platform::FileId entryId(int index) const;
    bool selected(int index) const;
    void setSelected(int index, bool on);

    // Reads the folder again. A folder that cannot be read lists nothing.
    void refresh();

private:
    QString path_;
    QString pattern_ = QStringLiteral("*.*");
    bool hidden_ = false;
    bool system_ = false;
    bool readOnly_ = true;
};

// Whether `name` matches one of the ';'-separated patterns, without regard
// to case. "*.*" matches every name, a name without a dot included.
bool matchesPattern(const QString& name, const QString& patterns);

} // namespace controls
