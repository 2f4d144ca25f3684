#pragma once
// The database the build made, private copies of it for tests that write,
// and the error number an operation fails with.
#include "infodb/location.h"
#include "infodb/recordset.h"
#include "platform/errors.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace infodbtest {

inline QString builtDatabase()
{
    return QDir(QStringLiteral(ZARVEX_BUILD_BIN_DIR)).filePath(QString::fromLatin1(infodb::kDatabaseFileName));
}

// Copies the built database into `folder`, where it is not yet; the copy is
// writable. Its
// file-type scratch list starts as the build made it, "ALL" alone, whatever
// a run of the program from the build folder left there.
inline QString copyOfBuilt(const QString& folder)
{
    const QString target = QDir(folder).filePath(QString::fromLatin1(infodb::kDatabaseFileName));
    if (!QFile::copy(builtDatabase(), target))
        return {};
    QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOwner);
    infodb::Connection db(target);
    infodb::Recordset exts(db, QStringLiteral("exts"));
    for (exts.moveNext(); !exts.eof(); exts.moveNext())
        exts.deleteCurrent();
    return target;
}

// The number of the error `f` throws (0: none), and its detail.
template <typename F>
int errorOf(F&& f, QString* detail = nullptr)
{
    try {
        f();
    } catch (const platform::RunTimeError& e) {
        if (detail)
            *detail = e.detail();
        return e.number();
    }
    return 0;
}

} // namespace infodbtest
