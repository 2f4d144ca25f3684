#pragma once
// Where fill files go: the root of a drive. The disk implementation writes
// real files; tests put a volume of their own behind it.
#include "platform/driveservices.h"
#include "platform/wipejournal.h"
#include "platform/readback.h"
#include "platform/fstraits.h"

#include <QByteArray>

#include <QString>
#include <cstdint>
#include <functional>
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

// What covering the indexes of a drive's folders reached.
struct FolderCover {
    int folders = 0; // covered
    int whole = 0;   // of them, filled whole
    bool all = true; // no folder was left for want of time
};

// Where the record fill puts its small files (see recordfill.h).
class RecordSpace {
public:
    virtual ~RecordSpace() = default;
    // Both throw RunTimeError; 75 when the folder exists.
    virtual void makeFolder(const QString& drivePath) = 0;
    virtual void removeFolder(const QString& drivePath) = 0;
    // Created exclusively and written at once (data, and an extended
    // attribute when given), not flushed on its own; 61 when the file system
    // refuses it (and nothing of it is left).
    virtual void writeSmall(const QString& drivePath, const QByteArray& data, const QByteArray& attribute) = 0;
    // Everything written so far reaches the disk.
    virtual void flush() = 0;
    // NTFS's master file table now; nullopt elsewhere or when unreadable.
    virtual std::optional<platform::NtfsTable> table() = 0;
    // Names of the fill's own cover the folder's index and record (see
    // platform::coverIndexOf), recorded in the journal while they exist;
    // false when not whole. `goOn` is asked before each name.
    virtual bool coverIndex(const QString& drivePath, const std::function<bool()>& goOn) = 0;
    // The same for every folder below the drive's own, nearest first, while
    // `goOn(folders so far)` says so.
    virtual FolderCover coverEveryFolder(const std::function<bool(int folders)>& goOn) = 0;
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
    // What the file system behind it does with the data; nothing for a
    // stand-in volume.
    virtual platform::FileSystemTraits facts() { return {}; }
    // Room for the record fill; none for a stand-in volume.
    virtual RecordSpace* recordSpace() { return nullptr; }
};

class DiskFillTarget : public FillTarget, public RecordSpace {
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
    platform::FileSystemTraits facts() override;
    RecordSpace* recordSpace() override { return this; }
    void makeFolder(const QString& drivePath) override;
    void removeFolder(const QString& drivePath) override;
    void writeSmall(const QString& drivePath, const QByteArray& data, const QByteArray& attribute) override;
    void flush() override;
    std::optional<platform::NtfsTable> table() override;
    bool coverIndex(const QString& drivePath, const std::function<bool()>& goOn) override;
    FolderCover coverEveryFolder(const std::function<bool(int folders)>& goOn) override;
    const QString& folder() const { return folder_; }

protected:
    platform::JournalEntry& journal() { return journal_; }

private:
    void checkDevice() const;
    QString native(const QString& drivePath) const;
    QString folder_;
    std::uint64_t device_;
    platform::JournalEntry journal_;
    QString source_; // the device or image, once facts() has found it
};

} // namespace engine
