#pragma once
// Message boxes: the application's default title, no icon, OK or Yes/No.
#include <QString>

class QWidget;

namespace platform {

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void message(const QString& text) = 0;
    // True for Yes.
    virtual bool askYesNo(const QString& text) = 0;
};

class MessageBoxPrompter : public Prompter {
public:
    void message(const QString& text) override;
    bool askYesNo(const QString& text) override;
};

// Lines of a message are joined with CR LF, as the texts are stored.
QString joinLines(std::initializer_list<QString> lines);

Prompter& systemPrompter();

} // namespace platform
