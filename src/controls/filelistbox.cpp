#include "controls/filelistbox.h"
#include "platform/blocking.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/names.h"

#include <QItemSelectionModel>
#include <QRegularExpression>
#include <algorithm>

namespace controls {

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    const Entry* e = at(index.row());
    return e && index.isValid() && role == Qt::DisplayRole ? QVariant(e->shown) : QVariant();
}

void FileListModel::reset(std::vector<Entry> entries)
{
    beginResetModel();
    entries_ = std::move(entries);
    endResetModel();
}

const FileListModel::Entry* FileListModel::at(int row) const
{
    return row >= 0 && row < rowCount() ? &entries_[std::size_t(row)] : nullptr;
}

FileListBox::FileListBox(QWidget* parent) : QListView(parent)
{
    setModel(&model_);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every row is one line: the view lays out only what it shows.
    setUniformItemSizes(true);
    connect(this, &QListView::clicked, this, [this](const QModelIndex& index) { emit entryClicked(index.row()); });
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

QString FileListBox::entry(int index) const
{
    const FileListModel::Entry* e = model_.at(index);
    return e ? e->name : QString();
}

platform::FileId FileListBox::entryId(int index) const
{
    const FileListModel::Entry* e = model_.at(index);
    return e ? e->id : platform::FileId{};
}

bool FileListBox::selected(int index) const
{
    return model_.at(index) && selectionModel()->isSelected(model_.index(index));
}

void FileListBox::setSelected(int index, bool on)
{
    if (model_.at(index))
        selectionModel()->select(model_.index(index),
                                 on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

void FileListBox::setChoosable(bool on)
{
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::NoSelection);
}

int FileListBox::selectedCount() const
{
    return static_cast<int>(selectionModel()->selectedRows().size());
}

namespace {

QRegularExpression wildcardToRegex(const QString& pattern)
{
    // "*.*" in the classic list means every file, also those without a dot.
    if (pattern == QStringLiteral("*.*") || pattern == QStringLiteral("*"))
        return QRegularExpression(QStringLiteral("^.*$"));
    // Only * and ? are wildcards here: a [ is a character of the name.
    QString plain = pattern;
    plain.replace(u'[', QStringLiteral("[[]"));
    return QRegularExpression(QRegularExpression::wildcardToRegularExpression(plain),
                              QRegularExpression::CaseInsensitiveOption);
}

// The patterns, made once for a whole folder.
std::vector<QRegularExpression> compiled(const QString& patterns)
{
    std::vector<QRegularExpression> out;
    for (const QString& p : patterns.split(u';', Qt::SkipEmptyParts))
        out.push_back(wildcardToRegex(p.trimmed()));
    return out;
}

bool matchesAny(const QString& name, const std::vector<QRegularExpression>& patterns)
{
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const QRegularExpression& rx) { return rx.match(name).hasMatch(); });
}

} // namespace

bool matchesPattern(const QString& name, const QString& patterns)
{
    return matchesAny(name, compiled(patterns));
}

void FileListBox::refresh()
{
    const int generation = ++generation_;
    if (path_.isEmpty()) {
        model_.reset({});
        return;
    }
    // Read, filtered and sorted on the worker: the window goes on meanwhile.
    const QString folder = path_;
    const std::vector<QRegularExpression> patterns = compiled(pattern_);
    const int hidden = hidden_ ? 0 : platform::AttrHidden, system = system_ ? 0 : platform::AttrSystem,
              readOnly = readOnly_ ? 0 : platform::AttrReadOnly;
    std::vector<FileListModel::Entry> entries;
    try {
        platform::runBlocking([&] {
            for (platform::DirEntry& f : platform::listRegularFiles(folder))
                if (!(f.attributes & (hidden | system | readOnly)) && matchesAny(f.name, patterns))
                    entries.push_back({f.name, platform::readableName(f.name), f.id});
            std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
                return QString::compare(a.name, b.name, Qt::CaseInsensitive) < 0;
            });
        });
    } catch (const platform::RunTimeError&) {
        entries.clear();
    }
    // A later refresh (a click while this one waited) has shown its own.
    if (generation == generation_)
        model_.reset(std::move(entries));
}

} // namespace controls
