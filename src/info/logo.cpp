#include "info/logo.h"

#include <QLabel>

// The picture is in the core library's resources, which a static library
// must register itself, once, before the first window shows it.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace info {

QLabel* makeLogo(const QString& objectName)
{
    static const bool registered = (initResources(), true);
    Q_UNUSED(registered);
    auto* picture = new QLabel;
    picture->setObjectName(objectName);
    picture->setPixmap(QPixmap(QStringLiteral(":/logo.gif")));
    picture->setFixedSize(100, 52);
    return picture;
}

} // namespace info
