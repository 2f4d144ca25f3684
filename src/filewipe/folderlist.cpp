#include "filewipe/folderlist.h"
#include "platform/files.h"

#include <algorithm>

namespace filewipe {

FolderList::FolderList(QString drivePath, const QString& nativeFolder) : drivePath_(std::move(drivePath))
{
    for (const platform::DirEntry& e : platform::listRegularFiles(nativeFolder))
        names_ << e.name;
    std::sort(names_.begin(), names_.end(),
              [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });
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

} // namespace filewipe
