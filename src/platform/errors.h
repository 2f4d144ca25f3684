#pragma once
// Run-time errors with the classic error numbers. Everything above the
// platform layer dispatches on `number()`; errno never leaves this folder.
#include <QString>
#include <stdexcept>

namespace platform {

enum ErrorNumber : int {
    ErrOutOfMemory = 7,
    // The user pressed Stop: the process ends where it stands, and says so.
    ErrUserInterrupt = 18,
    ErrFileNotFound = 53,
    ErrDeviceIO = 57,
    ErrDiskFull = 61,
    ErrInputPastEnd = 62,
    ErrDeviceUnavailable = 68,
    // The program itself refuses to act on a file: it is not the file that
    // was chosen, or writing it would reach data nobody chose. The detail
    // is the reason, for the user.
    ErrRefused = 70,
    ErrPathFileAccess = 75,
    ErrPathNotFound = 76,
    ErrObjectNotSet = 91,
    ErrPrinter = 482,
    ErrPrinterProperty = 483,
    ErrPrinterInfo = 484,
};

// The classic description of an error number ("Disk full", ...).
QString describeError(int number);

// Why a write or create found no room when the drive itself is not full.
enum class Limit {
    None,
    FileSize,  // a per-file size limit (EFBIG): the file is full, not the drive
    FileCount, // the file system can create no more files (no free inodes)
    Quota,     // a disk quota (EDQUOT): this user may write no more, the drive has room
};

class RunTimeError : public std::runtime_error {
public:
    RunTimeError(int number, QString detail = {}, Limit limit = Limit::None);

    int number() const { return number_; }
    // The classic description, followed by the detail (path, reason) if any.
    QString description() const;
    const QString& detail() const { return detail_; }
    // A disk-full error that is really a per-file size limit (EFBIG): the
    // drive is not full, the file is.
    bool isFileSizeLimit() const { return limit_ == Limit::FileSize; }
    // A disk-full error from a file system that has room but no free inode.
    bool isFileCountLimit() const { return limit_ == Limit::FileCount; }
    // A disk-full error that is this user's quota, not the drive.
    bool isQuotaLimit() const { return limit_ == Limit::Quota; }

private:
    int number_;
    QString detail_;
    Limit limit_;
};

// Maps an OS error to its classic number. `nativePath` is the file the call
// was about; for ENOENT it tells "file not found" (53) from "a folder on the
// way is missing" (76).
// ENOSPC from a file system that still has free blocks but no free inode is
// told apart (isFileCountLimit()).
RunTimeError errorFromErrno(int err, const QString& nativePath, const QString& what = {});

} // namespace platform
