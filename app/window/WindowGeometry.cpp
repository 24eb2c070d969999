#include "WindowGeometry.h"

#include "shared/XmlWidgets/Page.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QWindow>

void CWindowGeometry::growOnLargeScreen(QMainWindow& window)
{
    QScreen* screen = window.windowHandle() ? window.windowHandle()->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::screenAt(window.geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    if (available.height() <= 1200)
        return;
    const int newWidth = qMin(static_cast<int>(window.width() * 1.25), available.width() - 50);
    const int newHeight = qMin(static_cast<int>(window.height() * 1.25), available.height() - 50);
    window.resize(newWidth, newHeight);
    window.move((available.width() - 50 - newWidth) / 2, (available.height() - 50 - newHeight) / 2);
}

void CWindowGeometry::fitPage(QMainWindow& window, CPage* page)
{
    QScreen* const screen =
        window.windowHandle() ? window.windowHandle()->screen() : QGuiApplication::primaryScreen();
    if (!page || !page->widget() || !screen || window.isMaximized() || window.isFullScreen())
        return;
    const QSize wanted = page->widget()->sizeHint();
    const QSize shown = page->viewport()->size();
    const QRect available = screen->availableGeometry();
    // Keep room for the window's frame and the desktop's panels.
    const QSize most(available.width() - 50, available.height() - 50);
    const int newWidth =
        qMax(window.width(), qMin(window.width() + wanted.width() - shown.width(), most.width()));
    const int newHeight = qMax(
        window.height(), qMin(window.height() + wanted.height() - shown.height(), most.height()));
    if (newWidth == window.width() && newHeight == window.height())
        return;
    window.resize(newWidth, newHeight);
    QRect frame = window.frameGeometry();
    frame.moveCenter(available.center());
    window.move(qMax(available.left(), frame.left()), qMax(available.top(), frame.top()));
}
