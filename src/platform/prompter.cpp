#include "platform/prompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

namespace platform {

static QString displayText(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

namespace {

// One box of the application's own: its title, no icon, these buttons. A
// default button also answers Escape.
int ask(const QString& text, QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton)
{
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), displayText(text), buttons,
                    QApplication::activeWindow());
    if (defaultButton != QMessageBox::NoButton) {
        box.setDefaultButton(defaultButton);
        box.setEscapeButton(defaultButton);
    }
    return box.exec();
}

} // namespace

void MessageBoxPrompter::message(const QString& text)
{
    ask(text, QMessageBox::Ok);
}

bool MessageBoxPrompter::askYesNo(const QString& text)
{
    return ask(text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool MessageBoxPrompter::confirm(const QString& text)
{
    return ask(text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

Answer MessageBoxPrompter::askYesNoCancel(const QString& text)
{
    const int answer = ask(text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Cancel);
    return answer == QMessageBox::Yes ? Answer::Yes : answer == QMessageBox::No ? Answer::No : Answer::Cancel;
}

QString joinLines(std::initializer_list<QString> lines)
{
    return QStringList(lines).join(QStringLiteral("\r\n"));
}

Prompter& systemPrompter()
{
    static MessageBoxPrompter prompter;
    return prompter;
}

} // namespace platform
