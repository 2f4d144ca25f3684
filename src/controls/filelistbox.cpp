#include "controls/filelistbox.h"
#include "platform/names.h"
#include "platform/errors.h"
#include "platform/files.h"

#include <QRegularExpression>
#include <algorithm>

namespace controls {

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
}

void FileListBox::setPath(const QString& nativeFolder)
{
    path_ = nativeFolder;
    refresh();
}

void FileListBox::setPattern(const QString& pattern)
{
    pattern_ = pattern;
    refresh();
}

void FileListBox::setShowHidden(bool on)
{
    hidden_ = on;
    refresh();
}

void FileListBox::setShowSystem(bool on)
{
    system_ = on;
    refresh();
}

void FileListBox::setShowReadOnly(bool on)
{
    readOnly_ = on;
    refresh();
}

// The entry's name and identity ride with it; its text is the name as a
// person can read it.
constexpr int kNameRole = Qt::UserRole;
constexpr int kDeviceRole = Qt::UserRole + 1;
constexpr int kInodeRole = Qt::UserRole + 2;

QString FileListBox::entry(int index) const
{
    const QListWidgetItem* it = item(index);
    return it ? it->data(kNameRole).toString() : QString();
}

platform::FileId FileListBox::entryId(int index) const
{
    const QListWidgetItem* it = item(index);
    return it ? platform::FileId{it->data(kDeviceRole).toULongLong(), it->data(kInodeRole).toULongLong()}
              : platform::FileId{};
}

bool FileListBox::selected(int index) const
{
    const QListWidgetItem* it = item(index);
    return it && it->isSelected();
}

void FileListBox::setSelected(int index, bool on)
{
    if (QListWidgetItem* it = item(index))
        it->setSelected(on);
}

static QRegularExpression wildcardToRegex(const QString& pattern)
{
    // "*.*" in the classic list means every file, also those without a dot.
    if (pattern == QStringLiteral("*.*") || pattern == QStringLiteral("*"))
        return QRegularExpression(QStringLiteral("^.*$"));
    QString rx;
    for (const QChar c : pattern) {
        if (c == u'*')
            rx += QStringLiteral(".*");
        else if (c == u'?')
            rx += u'.';
        else
            rx += QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(u'^' + rx + u'$', QRegularExpression::CaseInsensitiveOption);
}

bool matchesPattern(const QString& name, const QString& patterns)
{
    for (const QString& p : patterns.split(u';', Qt::SkipEmptyParts)) {
        if (wildcardToRegex(p.trimmed()).match(name).hasMatch())
            return true;
    }
    return false;
}

void FileListBox::refresh()
{
    clear();
    if (path_.isEmpty())
        return;
    std::vector<platform::DirEntry> files;
    try {
        files = platform::listRegularFiles(path_);
    } catch (const platform::RunTimeError&) {
        return;
    }
    std::sort(files.begin(), files.end(), [](const platform::DirEntry& a, const platform::DirEntry& b) {
        return QString::compare(a.name, b.name, Qt::CaseInsensitive) < 0;
    });
    for (const platform::DirEntry& f : files) {
        if ((f.attributes & platform::AttrHidden) && !hidden_)
            continue;
        if ((f.attributes & platform::AttrSystem) && !system_)
            continue;
        if ((f.attributes & platform::AttrReadOnly) && !readOnly_)
            continue;
        if (!matchesPattern(f.name, pattern_))
            continue;
        auto* it = new QListWidgetItem(platform::readableName(f.name), this);
        it->setData(kNameRole, f.name);
        it->setData(kDeviceRole, QVariant::fromValue<qulonglong>(f.id.dev));
        it->setData(kInodeRole, QVariant::fromValue<qulonglong>(f.id.ino));
    }
}

} // namespace controls
