#pragma once
// The command-line front end for machines without a display: the same
// procedures as the window, with a console view and messages on the
// terminal.
#include <QStringList>

namespace app {

// True when the arguments ask for a console command (or for help).
bool isConsoleCommand(const QStringList& args);
// Runs the command; the process exit code.
int runConsole(const QStringList& args);

} // namespace app
