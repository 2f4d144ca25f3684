#pragma once
// The folder and file wipe that the window's Wipe button runs. It comes with
// the overwrite routines; until they are built the button says so and
// nothing on the disk is touched.
#include <QString>

namespace platform {
class Prompter;
}

namespace filewipe {

inline const QString kWipeNotAvailable =
    QStringLiteral("The folder and file wipe is not available yet.\r\n\r\nNothing was wiped.");

// Wipes what the window has chosen; for now only tells the user that it
// cannot yet.
void runFileWipe(platform::Prompter& prompter);

} // namespace filewipe
