#include "filewipe/folderlist.h"
#include "platform/files.h"

#include <algorithm>

namespace filewipe {

FolderList::FolderList(QString drivePath, const QString& nativeFolder) : drivePath_(std::move(drivePath))
{
    std::vector<platform::DirEntry> entries = platform::listRegularFiles(nativeFolder);
    std::sort(entries.begin(), entries.end(), [](const platform::DirEntry& a, const platform::DirEntry& b) {
        return QString::compare(a.name, b.name, Qt::CaseInsensitive) < 0;
    });
    for (const platform::DirEntry& e : entries) {
        names_ << e.name;
        ids_ << e.id;
    }
    selected_.assign(std::size_t(names_.size()), false);
}

bool FolderList::choose(const QStringList& names)
{
    for (const QString& name : names) {
        const qsizetype i = names_.indexOf(name);
        if (i < 0)
            return false;
        selected_[std::size_t(i)] = true;
    }
    return true;
}

bool FolderList::choose(platform::FileId id)
{
    const qsizetype i = ids_.indexOf(id);
    if (i < 0)
        return false;
    selected_[std::size_t(i)] = true;
    return true;
}

} // namespace filewipe
