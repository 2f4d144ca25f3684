#include "engine/filltarget.h"
#include "platform/blocking.h"
#include "platform/errors.h"
#include "platform/fillfile.h"

namespace engine {

namespace {
class DiskFillWriter : public FillWriter {
public:
    explicit DiskFillWriter(std::unique_ptr<platform::FillFile> f) : file_(std::move(f)) {}
    void append(const char* data, std::size_t size) override { file_->append(data, size); }
    void commit() override { file_->commit(); }
    void endDirect() override { file_->endDirect(); }
    void close() override { file_->close(); }
    void abandon() override { file_->abandon(); }
    std::uint64_t written() const override { return file_->written(); }

private:
    std::unique_ptr<platform::FillFile> file_;
};
} // namespace

DiskFillTarget::DiskFillTarget(platform::DriveServices& drives, const QString& drive)
    : folder_(drives.nativePath(drive.left(2))), device_(platform::deviceOf(folder_)), journal_(folder_)
{
    if (device_ == 0)
        throw platform::RunTimeError(platform::ErrDeviceUnavailable, folder_);
}

void DiskFillTarget::checkDevice() const
{
    if (platform::deviceOf(folder_) != device_)
        throw platform::RunTimeError(platform::ErrDeviceUnavailable,
                                     QStringLiteral("%1 no longer holds the drive being wiped").arg(folder_));
}

QString DiskFillTarget::native(const QString& drivePath) const
{
    checkDevice();
    QString rest = drivePath.mid(2);
    rest.replace(u'\\', u'/');
    while (rest.startsWith(u'/'))
        rest.remove(0, 1);
    return folder_.endsWith(u'/') ? folder_ + rest : folder_ + u'/' + rest;
}

std::uint64_t DiskFillTarget::freeBytes()
{
    // Asked after every batch: both queries in one hand-over to the worker.
    return platform::runBlocking([this] {
        checkDevice();
        return platform::freeBytesAt(folder_);
    });
}

std::unique_ptr<FillWriter> DiskFillTarget::create(const QString& drivePath)
{
    const QString path = native(drivePath);
    journal_.creating(path);
    std::unique_ptr<DiskFillWriter> writer;
    try {
        writer = std::make_unique<DiskFillWriter>(platform::FillFile::createExclusive(path, journal_.mark()));
    } catch (...) {
        journal_.fileDeleted(path); // never made
        throw;
    }
    journal_.fileCreated(path);
    return writer;
}

bool DiskFillTarget::exists(const QString& drivePath)
{
    return platform::fileExists(native(drivePath));
}

platform::ReadBack DiskFillTarget::verify(const QString& drivePath, const platform::WrittenContent& expected)
{
    return platform::FillFile::readBack(native(drivePath), expected);
}

void DiskFillTarget::remove(const QString& drivePath)
{
    const QString path = native(drivePath);
    platform::removeFile(path);
    journal_.fileDeleted(path);
}

platform::FileSystemTraits DiskFillTarget::facts()
{
    checkDevice();
    platform::FileSystemTraits f = platform::fileSystemTraits(folder_);
    source_ = f.fsType == QStringLiteral("ntfs") ? f.source : QString();
    return f;
}

void DiskFillTarget::makeFolder(const QString& drivePath)
{
    const QString path = native(drivePath);
    journal_.creating(path, true);
    try {
        platform::makeFolder(path, journal_.mark());
    } catch (...) {
        journal_.fileDeleted(path);
        throw;
    }
    journal_.fileCreated(path);
}

void DiskFillTarget::removeFolder(const QString& drivePath)
{
    const QString path = native(drivePath);
    platform::removeFolder(path);
    journal_.fileDeleted(path);
}

void DiskFillTarget::writeSmall(const QString& drivePath, const QByteArray& data, const QByteArray& attribute)
{
    platform::writeSmallFile(native(drivePath), data, attribute);
}

void DiskFillTarget::flush()
{
    checkDevice();
    platform::syncVolume(folder_);
}

std::optional<platform::NtfsTable> DiskFillTarget::table()
{
    checkDevice();
    if (source_.isEmpty())
        return std::nullopt;
    platform::syncVolume(folder_); // what the driver still holds first
    return platform::ntfsTable(source_);
}

bool DiskFillTarget::coverIndex(const QString& drivePath, const std::function<bool()>& goOn)
{
    checkDevice();
    const QString path = native(drivePath);
    journal_.namesMaking(path);
    const bool whole = platform::coverIndex(path, journal_.mark(), goOn);
    journal_.namesGone(path);
    return whole;
}

FolderCover DiskFillTarget::coverEveryFolder(const std::function<bool(int folders)>& goOn)
{
    checkDevice();
    FolderCover cover;
    bool timeLeft = true;
    auto goOnHere = [&] { return timeLeft = timeLeft && goOn(cover.folders); };
    platform::forEachFolderBelow(folder_, [&](int fd, const QString& path) {
        if (!goOnHere())
            return false;
        journal_.namesMaking(path);
        const bool whole = platform::coverIndexOf(fd, journal_.mark(), goOnHere);
        journal_.namesGone(path);
        // A folder cut short by the time is not counted as covered.
        if (timeLeft) {
            ++cover.folders;
            cover.whole += whole ? 1 : 0;
        }
        return timeLeft;
    });
    cover.all = timeLeft;
    return cover;
}

} // namespace engine
