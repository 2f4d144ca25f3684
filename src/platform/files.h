#pragma once
// File attributes and folder listings in the classic model: hidden is a name
// that begins with a full stop, read-only is a file its owner cannot write,
// nothing carries the system attribute. Only regular files are listed.
#include <QString>
#include <cstdint>
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
// "Normal": gives the owner write permission and leaves the rest.
void setAttributesNormal(const QString& nativePath);

struct DirEntry {
    QString name;
    int attributes = AttrNormal;
};

// Regular files of a folder (no links, devices or folders), names holding a
// backslash left out; throws RunTimeError when the folder cannot be read.
std::vector<DirEntry> listRegularFiles(const QString& nativeFolder);

// Length in bytes of a regular file (not following a final symbolic link);
// anything else is refused with 75, a path that cannot be examined throws
// its own error.
std::int64_t fileLength(const QString& nativePath);

} // namespace platform
