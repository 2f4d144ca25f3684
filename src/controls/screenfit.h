#pragma once
// A window's first size: the size it was laid out for, or less where the
// screen is smaller (a small screen, or a large scale factor), never less
// than its layout needs.
#include <QScreen>
#include <QWidget>

namespace controls {

inline void resizeWithinScreen(QWidget* window, QSize designed)
{
    QSize room = designed;
    if (const QScreen* screen = window->screen())
        room = screen->availableGeometry().size() - QSize(16, 48); // the frame and title bar
    window->resize(designed.boundedTo(room).expandedTo(window->minimumSizeHint()));
}

} // namespace controls
