#include "engine/filltarget.h"
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

DiskFillTarget::DiskFillTarget(platform::DriveServices& drives, QString drive)
    : drives_(drives), drive_(drive.left(2))
{
}

std::uint64_t DiskFillTarget::freeBytes()
{
    return drives_.freeBytes(drive_ + u'\\');
}

std::unique_ptr<FillWriter> DiskFillTarget::create(const QString& drivePath)
{
    return std::make_unique<DiskFillWriter>(platform::FillFile::createExclusive(drives_.nativePath(drivePath)));
}

bool DiskFillTarget::exists(const QString& drivePath)
{
    return platform::fileExists(drives_.nativePath(drivePath));
}

void DiskFillTarget::remove(const QString& drivePath)
{
    platform::removeFile(drives_.nativePath(drivePath));
}

} // namespace engine
