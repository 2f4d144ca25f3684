#pragma once
// The drive-letter model on Linux: mounts (or folders named in ZARVEX_DRIVES)
// take letters, and drive paths like `d:\a\b` translate to native paths.
#include <QChar>
#include <QString>
#include <optional>
#include <vector>

namespace platform {

struct MountEntry {
    QString mountPoint;
    QString fsType;
    QString source;
    unsigned major = 0;
    unsigned minor = 0;
    // The folder of the file system that is mounted here ("/" for all of it;
    // a bind mount or a subvolume shows only part).
    QString root = QStringLiteral("/");
    // Options of this mount (rw,nosuid,...) and of its file system
    // (errors=remount-ro,...): what it takes to mount it again as it was.
    QString options{};
    QString superOptions{};
    unsigned id = 0; // the mount's own id (two mounts stacked on one folder differ)
};

// Parses the text of /proc/self/mountinfo, undoing its octal escapes
// (\040 for a blank, \011, \012, \134). Malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(const QString& text);
// The mounts of this process, pseudo file systems left out.
std::vector<MountEntry> systemMounts();
bool isPseudoFileSystem(const QString& fsType);

struct Drive {
    QChar letter;   // lower case, 'c'..'z'
    QString folder; // native folder the letter stands for
};

class DriveTable {
public:
    // `/` is c:, the other mounts d:, e:, ... in byte order of their mount
    // points, none past z:.
    static DriveTable fromMounts(const std::vector<MountEntry>& mounts);
    // "c=/;t=/tmp/scratch" maps each letter to a folder.
    static DriveTable fromMapping(const QString& mapping);
    // ZARVEX_DRIVES when set, the mount table otherwise.
    static DriveTable current();

    const std::vector<Drive>& drives() const { return drives_; }
    std::optional<QString> folderFor(QChar letter) const;
    // `x:\a\b` (or `x:`, `x:\`) to a native path; nullopt for an unknown
    // letter or a text that is not a drive path.
    std::optional<QString> toNative(const QString& drivePath) const;
    // Native path to `x:\a\b` through the deepest drive folder holding it;
    // nullopt when no drive holds it or a name contains a backslash.
    std::optional<QString> toDrivePath(const QString& nativePath) const;

private:
    std::vector<Drive> drives_;
};

// `d: [/media/me/STICK]`
QString driveEntryText(const Drive& drive);

// Whether a drive-list entry ("t: [/mnt/x]") still names the folder the
// table now gives its letter: mounts come and go, and letters move with them.
bool driveEntryIsCurrent(const QString& entry, const DriveTable& table);

// Text that starts with a letter and a colon gives that letter in lower case.
std::optional<QChar> driveLetterOf(const QString& drivePath);

} // namespace platform
