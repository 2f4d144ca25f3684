#pragma once
// Running the format helper with root's rights. Root starts it directly; any
// other user starts it through pkexec, which asks for an administrator's
// password each time (polkit action org.zarvexwipe.format), so that only the
// step that needs root gets it and the window itself never runs as root.
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

inline constexpr const char* kPkexec = "/usr/bin/pkexec";

// The argument vector that runs `helper` with `args` as root: unchanged for
// a caller that is root, through pkexec otherwise. pkexec hands its program
// a clean environment, so everything the helper needs is in `args`.
QStringList rootCommand(const QString& helper, const QStringList& args, bool callerIsRoot);

// rootCommand for this process and the format helper it finds (beside the
// program or installed).
QStringList formatHelperCommand(const QStringList& args);

// pkexec fails with exit codes no helper uses: 126 when the password request
// was dismissed, 127 when authorization was refused or could not be asked
// for. Then the helper never ran. The reason to show, with pkexec's own
// words; nullopt for any other code.
std::optional<QString> authorizationFailure(int exitCode, const QString& pkexecOutput);

} // namespace platform
