#pragma once
// What the desktop shell tells about a folder: its display name, its icons,
// whether it is shared and whether it has subfolders worth an expand button.
// Folders are native paths here; the folder tree translates drive paths.
//
// The answers are virtual so that a test can stand in for what a machine
// cannot produce on demand (a folder whose details vanish between the listing
// and the query) or count how often the disk is read.
#include <QIcon>
#include <QString>
#include <QStringList>

namespace platform {

// Attribute flags, with the classic shell values.
enum ShellAttribute : quint32 {
    ShellShare = 0x00020000,
    ShellFolder = 0x20000000,
    ShellFileSystem = 0x40000000,
    ShellHasSubfolder = 0x80000000,
};

class ShellInfo {
public:
    virtual ~ShellInfo() = default;

    // Attribute flags of a path; 0 when the path cannot be examined. Folders
    // carry ShellHasSubfolder when `hasSubfolders` finds one. Nothing is
    // shared on Linux.
    virtual quint32 attributes(const QString& nativePath) const;

    // A folder's name. For a drive root (`driveLetter` given) the mount's
    // name and the letter, as in `STICK (D:)`.
    virtual QString displayName(const QString& nativePath, QChar driveLetter = {}) const;

    // The desktop theme's icon: a drive for a root, a closed or open folder
    // otherwise. Never null: the style's own icons stand in for a theme.
    virtual QIcon icon(const QString& nativePath, bool open, bool driveRoot) const;

    // Stops at the first subfolder that `listSubfolders` would show; false
    // when the folder cannot be read.
    virtual bool hasSubfolders(const QString& nativeFolder) const;

    // Names of the real folders inside a folder, in the order the file system
    // gives them: symbolic links, names that begin with a full stop and names
    // holding a backslash are left out. Throws RunTimeError when the folder
    // cannot be read.
    virtual QStringList listSubfolders(const QString& nativeFolder) const;

private:
    mutable QIcon folder_, folderOpen_, drive_;
};

// The shell the program runs with.
ShellInfo& systemShell();

} // namespace platform
