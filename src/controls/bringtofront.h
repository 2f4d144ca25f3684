#pragma once
// The windows kept as one instance come back this way when asked for again:
// shown, out of the task bar if minimized, on top and with the focus.
#include <QWidget>

namespace controls {

inline void bringToFront(QWidget* window)
{
    window->show();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}

} // namespace controls
