#pragma once
// The database the build made, and private copies of it for tests that write.
#include "infodb/location.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace infodbtest {

inline QString builtDatabase()
{
    return QDir(QStringLiteral(ZARVEX_BUILD_BIN_DIR)).filePath(QString::fromLatin1(infodb::kDatabaseFileName));
}

// Copies the built database into `folder`; the copy is writable.
inline QString copyOfBuilt(const QString& folder)
{
    const QString target = QDir(folder).filePath(QString::fromLatin1(infodb::kDatabaseFileName));
    QFile::remove(target);
    if (!QFile::copy(builtDatabase(), target))
        return {};
    QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOwner);
    return target;
}

} // namespace infodbtest
