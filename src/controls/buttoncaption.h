#pragma once
// The caption of an option button or check box that is drawn without text,
// as a label beside it: clicking the words clicks the button, as clicking a
// button's own text would, and the label's access key reaches it.
#include <QAbstractButton>
#include <QLabel>
#include <QMouseEvent>

namespace controls {

class ButtonCaption : public QLabel {
public:
    ButtonCaption(const QString& text, QAbstractButton* button) : QLabel(text), button_(button)
    {
        setBuddy(button);
        setWordWrap(true);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && button_->isEnabled() && rect().contains(event->position().toPoint()))
            button_->click();
        QLabel::mouseReleaseEvent(event);
    }

private:
    QAbstractButton* button_;
};

} // namespace controls
