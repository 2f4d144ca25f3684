#pragma once
// Where the program's own parts lie. In a build folder the format helper and
// the info database sit beside the program; installed, the helper lies in
// <prefix>/libexec/zarvexwipe and the shipped data in <prefix>/share/zarvexwipe.
// Both places are found from the program's own folder, so any prefix, and a
// copy unpacked somewhere else, works without a configured path.
#include <QString>

namespace platform {

enum class PartKind { Helper, Data };

struct PartLocation {
    QString path;
    bool installed = false; // in the installed place, not beside the program
};

// The part `fileName` of a program whose executable lies in `programFolder`:
// beside the program when it is there, else in its installed place (named
// even when missing, so that an error says where it was looked for).
PartLocation locatePart(const QString& programFolder, PartKind kind, const QString& fileName);

// The same for this program.
PartLocation locatePart(PartKind kind, const QString& fileName);

} // namespace platform
