#include "format/filesystems.h"

#include <algorithm>

namespace format {

const FileSystemRow* fileSystemOfSwitch(const QString& switchName)
{
    const auto row = std::find_if(kFileSystems.begin(), kFileSystems.end(),
                                  [&](const FileSystemRow& r) { return switchName == QLatin1String(r.switchName); });
    return row != kFileSystems.end() ? &*row : nullptr;
}

QStringList fileSystemSwitchNames()
{
    QStringList names;
    for (const FileSystemRow& row : kFileSystems)
        names << QLatin1String(row.switchName);
    return names;
}

} // namespace format
