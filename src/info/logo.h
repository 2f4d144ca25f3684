#pragma once
// The maker's logo, 100 x 52 pixels, as every window shows it.
#include <QString>

class QLabel;

namespace info {

QLabel* makeLogo(const QString& objectName);

} // namespace info
