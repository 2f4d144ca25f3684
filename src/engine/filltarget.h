#pragma once
// Where fill files go: the root of a drive. The disk implementation writes
// real files; tests put a volume of their own behind it.
#include "platform/driveservices.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace platform {
class FillFile;
}

namespace engine {

class FillWriter {
public:
    virtual ~FillWriter() = default;
    virtual void append(const char* data, std::size_t size) = 0;
    virtual void commit() = 0;
    virtual void endDirect() = 0;
    virtual void close() = 0;
    virtual void abandon() = 0;
};

class FillTarget {
public:
    virtual ~FillTarget() = default;
    // Bytes the fill can still write; throws RunTimeError.
    virtual std::uint64_t freeBytes() = 0;
    // Creates the drive path exclusively; throws RunTimeError (75 when it
    // exists).
    virtual std::unique_ptr<FillWriter> create(const QString& drivePath) = 0;
    virtual bool exists(const QString& drivePath) = 0;
    virtual void remove(const QString& drivePath) = 0;
};

class DiskFillTarget : public FillTarget {
public:
    DiskFillTarget(platform::DriveServices& drives, QString drive);
    std::uint64_t freeBytes() override;
    std::unique_ptr<FillWriter> create(const QString& drivePath) override;
    bool exists(const QString& drivePath) override;
    void remove(const QString& drivePath) override;

private:
    platform::DriveServices& drives_;
    QString drive_;
};

} // namespace engine
