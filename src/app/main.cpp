#include "app/form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZarvexWipe"));
    QApplication::setApplicationVersion(QStringLiteral(ZARVEX_VERSION));
    auto* window = new app::Form1(platform::systemServices());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return app.exec();
}
