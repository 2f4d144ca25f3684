#pragma once
// Enter presses the window's default button, as it does in a dialog. A
// button that has the focus takes Enter itself (auto-default), so Enter on
// Close closes; a box or list that has no use for Enter passes it on to the
// window, where the default button takes it. Destruction is safe behind it:
// every wipe asks first, with No as the answer Enter gives there.
#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QPushButton>
#include <QWidget>

namespace controls {

class DefaultButton : public QObject {
public:
    static void install(QWidget* window, QPushButton* button) { new DefaultButton(window, button); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != parent() || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter || key->modifiers() & ~Qt::KeypadModifier || !button_->isEnabled() || button_->isHidden())
            return false;
        button_->click();
        return true;
    }

private:
    DefaultButton(QWidget* window, QPushButton* button) : QObject(window), button_(button)
    {
        for (QPushButton* each : window->findChildren<QPushButton*>())
            each->setAutoDefault(true);
        button->setDefault(true);
        window->installEventFilter(this);
    }

    QPushButton* button_;
};

} // namespace controls
