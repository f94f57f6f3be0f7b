#pragma once

#include <QScreen>
#include <QWidget>

namespace Kv402 {

// Places a window, frame included, in the middle of the screen it is on.
inline void centreOnScreen(QWidget *window)
{
    if (const QScreen *screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

// Shows a window that may be hidden, minimized or behind others, in front and active.
inline void bringToFront(QWidget *window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace Kv402
