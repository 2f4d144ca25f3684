#pragma once
// The format helper's second mode, for the fill: `zarvexformat
// --release-reserve [--folder F] t:` sets the ext4 reserve of the volume that
// holds t:'s folder to 0, says "released <old value>" on standard output,
// waits until its standard input closes (the fill is over, or the program
// has ended in any way) and puts the old value back. It runs as root like a
// format, and like a format it takes nothing from its caller but the letter
// and the folder: the reserve is found from the folder here.
#include "format/formathelper.h"

#include <QStringList>

namespace format {

inline constexpr const char* kReleaseReserveSwitch = "--release-reserve";

struct ReserveRequest {
    QChar letter; // lower case
    QString pinnedFolder;
    QString about; // the volume as the administrator approved it; empty: not asked
};

// `[--folder F] <letter>:`; nullopt when malformed.
std::optional<ReserveRequest> parseReserveArguments(const QStringList& args);

// The whole mode for the arguments after `--release-reserve`. Exits
// ExitFormatted (0) when the reserve was put back or there was none to
// release, ExitRefused with the reason otherwise.
HelperOutcome runReserveHelper(const QStringList& args);

} // namespace format
