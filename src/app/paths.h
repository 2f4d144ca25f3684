#pragma once
// Where this program found its parts: what `zarvexwipe --paths` prints, to
// check an installation (not in the usage text).
#include <QString>

namespace app {

QString installationPaths();

} // namespace app
