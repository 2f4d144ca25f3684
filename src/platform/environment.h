#pragma once
// Process environment as the windows expect it: the system root, the
// program's folder and the current drive, written as drive paths.
#include "platform/drivetable.h"

#include <QString>
#include <optional>

namespace platform {

// The "systemroot" variable (also SystemRoot, SYSTEMROOT) when set, even to
// an empty value. Unset: the letter of `/` followed by ":\" (C:\ when no
// drive holds `/`).
QString systemRootValue(const DriveTable& table);

// The executable's folder as a drive path ("c:\opt\zarvex"); empty when no
// drive holds it.
QString programFolder(const DriveTable& table);

// The drive that holds the working directory, as letter and colon; empty
// when no drive holds it.
QString currentDrive(const DriveTable& table);

} // namespace platform
