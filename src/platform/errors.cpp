#include "platform/errors.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/statvfs.h>

namespace platform {

QString describeError(int number)
{
    switch (number) {
    case ErrOutOfMemory: return QStringLiteral("Out of memory");
    case ErrUserInterrupt: return QStringLiteral("User interrupt occurred");
    case ErrFileNotFound: return QStringLiteral("File not found");
    case ErrDeviceIO: return QStringLiteral("Device I/O error");
    case ErrDiskFull: return QStringLiteral("Disk full");
    case ErrInputPastEnd: return QStringLiteral("Input past end of file");
    case ErrDeviceUnavailable: return QStringLiteral("Device unavailable");
    case ErrRefused: return QStringLiteral("Permission denied");
    case ErrPathFileAccess: return QStringLiteral("Path/File access error");
    case ErrPathNotFound: return QStringLiteral("Path not found");
    case ErrObjectNotSet: return QStringLiteral("Object variable or With block variable not set");
    case ErrPrinter: return QStringLiteral("Printer error");
    case ErrPrinterProperty: return QStringLiteral("Printer driver does not support specified property");
    case ErrPrinterInfo:
        return QStringLiteral("Problem getting printer information from the system. "
                              "Make sure the printer is set up correctly");
    default: return QStringLiteral("Application-defined or object-defined error");
    }
}

RunTimeError::RunTimeError(int number, QString detail, Limit limit)
    : std::runtime_error(describeError(number).toStdString()), number_(number), detail_(std::move(detail)),
      limit_(limit)
{
}

QString RunTimeError::description() const
{
    const QString base = describeError(number_);
    return detail_.isEmpty() ? base : QStringLiteral("%1 (%2)").arg(base, detail_);
}

static int numberForErrno(int err, const QString& nativePath)
{
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ErrDiskFull;
    case ENOENT: {
        // A missing folder on the way is "path not found"; a missing last
        // component is "file not found".
        const QString parent = QFileInfo(nativePath).absolutePath();
        return (nativePath.isEmpty() || QFileInfo(parent).isDir()) ? ErrFileNotFound : ErrPathNotFound;
    }
    case ENOTDIR:
        return ErrPathNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
    case EROFS:
    case ENOTEMPTY:
    case EEXIST:
    case EISDIR:
    case ELOOP:
        return ErrPathFileAccess;
    case ENOMEM:
        return ErrOutOfMemory;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
    case ENOTCONN:
    case ESTALE:
        return ErrDeviceUnavailable;
    case EIO:
        return ErrDeviceIO;
    default:
        return ErrPathFileAccess;
    }
}

RunTimeError errorFromErrno(int err, const QString& nativePath, const QString& what)
{
    QString detail = QString::fromLocal8Bit(std::strerror(err));
    if (!what.isEmpty())
        detail = QStringLiteral("%1: %2").arg(what, detail);
    if (!nativePath.isEmpty())
        detail = QStringLiteral("%1: %2").arg(nativePath, detail);
    Limit limit = err == EFBIG ? Limit::FileSize : err == EDQUOT ? Limit::Quota : Limit::None;
    if (err == ENOSPC && !nativePath.isEmpty()) {
        struct statvfs sv {};
        const QByteArray folder = QFile::encodeName(QFileInfo(nativePath).absolutePath());
        if (::statvfs(folder.constData(), &sv) == 0 && sv.f_files > 0 && sv.f_ffree == 0 && sv.f_bfree > 0) {
            limit = Limit::FileCount;
            detail = QStringLiteral("%1: the file system can create no more files (no free inodes)").arg(nativePath);
        }
    }
    return RunTimeError(numberForErrno(err, nativePath), detail, limit);
}

} // namespace platform
