#include "platform/installation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace platform {

namespace {

// The installed folders relative to the program's own (bin/), as the build
// computes them from the install layout.
QString installedFolder(PartKind kind)
{
    return QString::fromUtf8(kind == PartKind::Helper ? ZARVEX_HELPER_FROM_BIN : ZARVEX_DATA_FROM_BIN);
}

} // namespace

PartLocation locatePart(const QString& programFolder, PartKind kind, const QString& fileName)
{
    const QDir program(programFolder);
    const QString beside = program.filePath(fileName);
    if (QFileInfo::exists(beside))
        return {beside, false};
    return {QDir::cleanPath(program.filePath(installedFolder(kind) + u'/' + fileName)), true};
}

PartLocation locatePart(PartKind kind, const QString& fileName)
{
    return locatePart(QCoreApplication::applicationDirPath(), kind, fileName);
}

} // namespace platform
