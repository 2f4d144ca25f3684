#include "app/console.h"
#include "app/form1.h"
#include "platform/names.h"
#include "platform/prompter.h"
#include "platform/shutdown.h"
#include "platform/wipejournal.h"

#include <QApplication>
#include <memory>

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << platform::nameFromBytes(argv[i]); // a path that is not UTF-8 keeps its bytes
    if (app::isConsoleCommand(args)) {
        // No display needed: a terminal on a headless machine will do.
        if (app::consoleNeedsFonts(args) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        std::unique_ptr<QCoreApplication> app = app::consoleNeedsFonts(args)
                                                    ? std::make_unique<QGuiApplication>(argc, argv)
                                                    : std::make_unique<QCoreApplication>(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("ZarvexWipe"));
        platform::cleanUpOnTerminationSignals();
        return app::runConsole(args);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZarvexWipe"));
    QApplication::setApplicationVersion(QStringLiteral(ZARVEX_VERSION));
    platform::cleanUpOnTerminationSignals();
    // A wipe that was killed left its fill files and settings: put right first.
    if (const QString repaired = platform::repairInterruptedWipes(); !repaired.isEmpty())
        platform::systemPrompter().message(repaired);
    auto* window = new app::Form1(platform::systemServices());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return app.exec();
}
