#include "WindowGeometry.h"

#include "shared/XmlWidgets/Page.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QWindow>

namespace
{
// Room kept around the window for its frame and title bar.
const int FrameRoom = 50;
// Screens taller than this get a window a quarter larger.
const int LargeScreenHeight = 1200;

QScreen* screenOf(const QWidget& window)
{
    QScreen* screen = window.windowHandle() ? window.windowHandle()->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::screenAt(window.geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen;
}

// What the frame adds to the window's own size, once the window has one.
QSize frameExtra(const QWidget& window)
{
    const QSize extra = window.frameGeometry().size() - window.size();
    return QSize(qMax(0, extra.width()), qMax(0, extra.height()));
}

void resizeAndCentre(QMainWindow& window, const QSize& size, const QRect& available)
{
    window.resize(size);
    window.move(CWindowGeometry::centred(window.size() + frameExtra(window), available));
}
} // namespace

const QSize CWindowGeometry::PreferredMinimum(800, 600);

QSize CWindowGeometry::largest(const QRect& available)
{
    return QSize(qMax(1, available.width() - FrameRoom), qMax(1, available.height() - FrameRoom));
}

QSize CWindowGeometry::least(const QRect& available)
{
    return PreferredMinimum.boundedTo(largest(available));
}

QSize CWindowGeometry::grown(const QSize& size, const QRect& available)
{
    if (available.height() <= LargeScreenHeight)
        return size.boundedTo(largest(available));
    return QSize(size.width() * 5 / 4, size.height() * 5 / 4).boundedTo(largest(available));
}

QSize CWindowGeometry::fitted(const QSize& size, const QSize& wanted, const QSize& shown,
                              const QRect& available)
{
    const QSize needed(size.width() + qMax(0, wanted.width() - shown.width()),
                       size.height() + qMax(0, wanted.height() - shown.height()));
    return needed.boundedTo(largest(available));
}

QPoint CWindowGeometry::centred(const QSize& frame, const QRect& available)
{
    return QPoint(available.left() + qMax(0, (available.width() - frame.width()) / 2),
                  available.top() + qMax(0, (available.height() - frame.height()) / 2));
}

QRect CWindowGeometry::availableArea(const QWidget& window)
{
    QScreen* const screen = screenOf(window);
    return screen ? screen->availableGeometry() : QRect();
}

void CWindowGeometry::keepWithinScreen(QMainWindow& window)
{
    const QRect available = availableArea(window);
    if (available.isEmpty())
        return;
    window.setMinimumSize(least(available));
    if (window.isMaximized() || window.isFullScreen())
        return;
    const QSize most = largest(available);
    if (window.width() > most.width() || window.height() > most.height())
        resizeAndCentre(window, window.size().boundedTo(most), available);
}

void CWindowGeometry::growOnLargeScreen(QMainWindow& window)
{
    const QRect available = availableArea(window);
    if (available.isEmpty())
        return;
    window.setMinimumSize(least(available));
    const QSize size = grown(window.size(), available);
    if (size != window.size() || available.height() > LargeScreenHeight)
        resizeAndCentre(window, size, available);
}

void CWindowGeometry::fitPage(QMainWindow& window, CPage* page)
{
    if (!page || !page->QScrollArea::widget() || !window.isVisible() || window.isMaximized() ||
        window.isFullScreen())
        return;
    const QRect available = availableArea(window);
    if (available.isEmpty())
        return;
    // A page just built or just brought to front gets its size from layouts still
    // pending; measure it after them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    window.setMinimumSize(least(available));
    const QSize size = fitted(window.size(), page->QScrollArea::widget()->sizeHint(),
                              page->viewport()->size(), available);
    if (size != window.size())
        resizeAndCentre(window, size, available);
}
