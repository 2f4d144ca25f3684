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

private:
    std::unique_ptr<platform::FillFile> file_;
};
} // namespace

DiskFillTarget::DiskFillTarget(platform::DriveServices& drives, const QString& drive)
    : folder_(drives.nativePath(drive.left(2))), device_(platform::deviceOf(folder_))
{
    if (device_ == 0)
        throw platform::RunTimeError(platform::ErrDeviceUnavailable, folder_);
}

void DiskFillTarget::checkDevice() const
{
    if (platform::deviceOf(folder_) != device_)
        throw platform::RunTimeError(platform::ErrDeviceUnavailable,
                                     folder_ + QStringLiteral(" no longer holds the drive being wiped"));
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
    return std::make_unique<DiskFillWriter>(platform::FillFile::createExclusive(native(drivePath)));
}

bool DiskFillTarget::exists(const QString& drivePath)
{
    return platform::fileExists(native(drivePath));
}

void DiskFillTarget::remove(const QString& drivePath)
{
    platform::removeFile(native(drivePath));
}

} // namespace engine
