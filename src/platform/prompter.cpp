#include "platform/prompter.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

static QString displayText(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void MessageBoxPrompter::message(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), displayText(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool MessageBoxPrompter::askYesNo(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), displayText(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    return box.exec() == QMessageBox::Yes;
}

bool MessageBoxPrompter::confirm(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), displayText(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

Answer MessageBoxPrompter::askYesNoCancel(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), displayText(text),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    const int answer = box.exec();
    return answer == QMessageBox::Yes ? Answer::Yes : answer == QMessageBox::No ? Answer::No : Answer::Cancel;
}

QString joinLines(std::initializer_list<QString> lines)
{
    QString out;
    bool first = true;
    for (const QString& l : lines) {
        if (!first)
            out += QStringLiteral("\r\n");
        out += l;
        first = false;
    }
    return out;
}

Prompter& systemPrompter()
{
    static MessageBoxPrompter prompter;
    return prompter;
}

} // namespace platform
