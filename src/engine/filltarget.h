#pragma once
// Where fill files go: the root of a drive. The disk implementation writes
// real files; tests put a volume of their own behind it.
#include "platform/driveservices.h"
#include "platform/wipejournal.h"
#include "platform/readback.h"

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
    // Bytes that reached the file: all that was appended once closed, less
    // after a failed write.
    virtual std::uint64_t written() const = 0;
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
    // Reads a closed fill file back from the device and compares it with
    // what was written. A volume that cannot be read back says NotRun.
    virtual platform::ReadBack verify(const QString& /*drivePath*/, const platform::WrittenContent& /*expected*/)
    {
        return {};
    }
};

class DiskFillTarget : public FillTarget {
public:
    // Every fill file it makes, and every setting a subclass changes, is in
    // the wipe journal while the target lives, so that a killed fill is
    // repaired at the next start.
    // Resolves the drive's folder once: should the letter come to mean
    // another mount while the fill runs, or the volume go away under the
    // folder, the fill stops (68) instead of writing somewhere else.
    DiskFillTarget(platform::DriveServices& drives, const QString& drive);
    std::uint64_t freeBytes() override;
    std::unique_ptr<FillWriter> create(const QString& drivePath) override;
    bool exists(const QString& drivePath) override;
    void remove(const QString& drivePath) override;
    platform::ReadBack verify(const QString& drivePath, const platform::WrittenContent& expected) override;
    const QString& folder() const { return folder_; }

protected:
    platform::JournalEntry& journal() { return journal_; }

private:
    void checkDevice() const;
    QString native(const QString& drivePath) const;
    QString folder_;
    std::uint64_t device_;
    platform::JournalEntry journal_;
};

} // namespace engine
