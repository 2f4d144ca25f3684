#pragma once
// The command-line front end for machines without a display: the same
// procedures as the window, with a console view and messages on the
// terminal.
#include "platform/services.h"

#include <QStringList>

namespace app {

// True when the arguments ask for a console command (or for help).
bool isConsoleCommand(const QStringList& args);
// Runs the command; the process exit code.
int runConsole(const QStringList& args);
// The same with other services behind the wipe (tests compress time); the
// console answers the questions itself either way.
int runConsole(const QStringList& args, const platform::Services& services);
// Commands that print (a certificate) need the fonts of a GUI application
// object, on the offscreen platform when there is no display.
bool consoleNeedsFonts(const QStringList& args);

} // namespace app
