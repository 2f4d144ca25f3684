#pragma once
// The format helper: what runs when the format runner starts `format.com`.
// It takes the classic command line (`e: /fs:fat32/x/y/q`), finds the volume
// mounted at the drive's folder, unmounts it (never by force), makes a new
// file system on the device or image behind it and mounts that at the same
// place. The one-line reason for any refusal or failure goes to standard
// error, which the program shows to the user.
#include "format/filesystems.h"
#include "platform/mounts.h"

#include <QChar>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace format {

// "FAT", "FAT32", "NTFS".
QString fileSystemName(FileSystem fileSystem);

struct FormatRequest {
    QChar letter; // lower case
    FileSystem fileSystem = FileSystem::Ntfs;
    QString pinnedFolder; // the letter's folder as the caller resolved it; empty: the drive table's
    QString about;        // the volume as the administrator approved it; empty: not asked
};

// `--folder <absolute path>` before the letter pins it to the folder the
// program resolved when the user chose the drive. It travels as an argument
// because pkexec hands the helper a clean environment.
inline constexpr const char* kPinnedFolderSwitch = "--folder";
// `--about <summary>` names the volume (platform::volumeSummary) in the
// command line that pkexec's prompt shows; the helper refuses a volume that
// no longer matches it.
inline constexpr const char* kAboutSwitch = "--about";

// Takes the leading `--folder <absolute path>` and `--about <summary>` off
// `args`; false when one is there but malformed or given twice.
bool takeCallerSwitches(QStringList& args, QString& folder, QString& about);

// `[--folder F] <letter>: /fs:<fat|fat32|ntfs>/x/y/q`, without regard to
// case. The switches may come in any order, joined or as separate arguments;
// each is needed once: the helper only ever does a quick, unattended format
// after a dismount, which is exactly what /x /y /q ask for. nullopt when
// malformed.
std::optional<FormatRequest> parseFormatArguments(const QStringList& args);

QString formatUsage();

enum HelperExit : int {
    ExitFormatted = 0,
    ExitRefused = 1,   // nothing was changed, and the volume is mounted as before
    ExitUsage = 2,
    ExitUnmounted = 3, // nothing was changed, but the volume could not be mounted again
    ExitChanged = 4,   // the device was overwritten or formatted and is not mounted
};

struct HelperOutcome {
    int exitCode = ExitFormatted;
    QString message; // one line; empty on success
};

// The whole helper for the arguments after the program name: find the
// volume, refuse what may not or cannot be formatted (before any unmount),
// then unmount, overwrite the device's ends, make the file system and mount it.
HelperOutcome runFormatHelper(const QStringList& args);

struct MountAttempt {
    QString program;
    QStringList args;
};
// How to mount a volume that was unmounted for a format again, as it was:
// same place, same options; the image again for a self-clearing loop device.
std::vector<MountAttempt> remountAttempts(const platform::MountEntry& mount,
                                          const std::optional<platform::LoopDevice>& loop);

} // namespace format
