#pragma once
// A read-only text box of a window (status, count, time): it can be read
// and its text selected with the mouse, but it is no Tab stop, so the
// keyboard goes from control to control the user can change.
#include <QLineEdit>

namespace controls {

inline QLineEdit* statusBox(const QString& name, const QString& text = {})
{
    auto* box = new QLineEdit(text);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::ClickFocus);
    return box;
}

} // namespace controls
