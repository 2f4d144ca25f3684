#pragma once
// Message boxes: the application's default title, no icon, OK or Yes/No.
#include <QString>

class QWidget;

namespace platform {

enum class Answer { Yes, No, Cancel };

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void message(const QString& text) = 0;
    // True for Yes.
    virtual bool askYesNo(const QString& text) = 0;
    // The question before anything is destroyed: No is its default, so
    // that Enter or Escape pressed in haste destroys nothing.
    virtual bool confirm(const QString& text) { return askYesNo(text); }
    // A Yes/No question that can also be called off: Cancel (the default,
    // and Escape) changes nothing.
    virtual Answer askYesNoCancel(const QString& text) { return askYesNo(text) ? Answer::Yes : Answer::No; }
};

class MessageBoxPrompter : public Prompter {
public:
    void message(const QString& text) override;
    bool askYesNo(const QString& text) override;
    bool confirm(const QString& text) override;
    Answer askYesNoCancel(const QString& text) override;
};

// Lines of a message are joined with CR LF, as the texts are stored.
QString joinLines(std::initializer_list<QString> lines);

Prompter& systemPrompter();

} // namespace platform
