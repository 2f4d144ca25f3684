#pragma once
// File attributes and folder listings in the classic model: hidden is a name
// that begins with a full stop, read-only is a file its owner cannot write,
// nothing carries the system attribute. Only regular files are listed.
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

enum FileAttribute : int {
    AttrNormal = 0,
    AttrReadOnly = 1,
    AttrHidden = 2,
    AttrSystem = 4,
    AttrDirectory = 16,
};

// Attributes of a native path (not following a final symbolic link);
// throws RunTimeError when the path cannot be examined.
int fileAttributes(const QString& nativePath);

// Which file a name meant when it was looked up: a name can come to mean
// another file later, its device and inode cannot.
struct FileId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool known() const { return ino != 0; }
    friend bool operator==(const FileId&, const FileId&) = default;
};

struct DirEntry {
    QString name; // the name's bytes, reversibly (platform/names.h)
    int attributes = AttrNormal;
    FileId id;
};

// Regular files of a folder (no links, devices or folders), each with its
// identity; throws RunTimeError when the folder cannot be read.
std::vector<DirEntry> listRegularFiles(const QString& nativeFolder);

// What a path names, not following a final symbolic link: nullopt when it
// cannot be examined.
struct PathFacts {
    bool regularFile = false;
    bool folder = false;
    FileId id;
};
std::optional<PathFacts> examinePath(const QString& nativePath);

// Length in bytes of a regular file (not following a final symbolic link);
// anything else is refused with 75, a path that cannot be examined throws
// its own error.
std::int64_t fileLength(const QString& nativePath);

} // namespace platform
