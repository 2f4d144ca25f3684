#include "platform/environment.h"

#include <QCoreApplication>
#include <QDir>

namespace platform {

QString systemRootValue(const DriveTable& table)
{
    for (const char* name : {"systemroot", "SystemRoot", "SYSTEMROOT"})
        if (qEnvironmentVariableIsSet(name))
            return qEnvironmentVariable(name);
    for (const Drive& d : table.drives())
        if (d.folder == QStringLiteral("/"))
            return QString(d.letter.toUpper()) + QStringLiteral(":\\");
    return QStringLiteral("C:\\");
}

QString programFolder(const DriveTable& table)
{
    return table.toDrivePath(QCoreApplication::applicationDirPath()).value_or(QString());
}

QString currentDrive(const DriveTable& table)
{
    const auto path = table.toDrivePath(QDir::currentPath());
    return path ? path->left(2) : QString();
}

} // namespace platform
