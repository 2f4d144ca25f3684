#pragma once
// The maker's logo, 100 x 52 pixels, as the viewer and the about window
// show it (twice each).
#include <QString>

class QLabel;

namespace info {

QLabel* makeLogo(const QString& objectName);

} // namespace info
