#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class CPage;
class QMainWindow;
class QWidget;

// How big the main window is: a quarter larger on a large screen, as large as the
// shown page needs, and never larger than the screen's available area. Every size is
// in device-independent pixels, as the screen reports its geometry at any scale.
class CWindowGeometry
{
public:
    // The least size the window asks for where the screen has room for it.
    static const QSize PreferredMinimum;

    // The most of available the window may take; room is kept for its frame.
    static QSize largest(const QRect& available);
    // The window's least size on a screen with that available area.
    static QSize least(const QRect& available);
    // size a quarter larger where available is more than 1200 pixels high; always
    // within largest.
    static QSize grown(const QSize& size, const QRect& available);
    // The size at which a window now of size shows the whole page, where the page's
    // content wants wanted and is shown in shown: never smaller than size (unless
    // size is beyond largest), never larger than largest.
    static QSize fitted(const QSize& size, const QSize& wanted, const QSize& shown,
                        const QRect& available);
    // Where a window frame of frame's size stands centred in available; its top
    // left corner stays within available when the frame is larger.
    static QPoint centred(const QSize& frame, const QRect& available);

    // The available area of the screen the window is on (or will be shown on).
    static QRect availableArea(const QWidget& window);
    // Lowers the least size to what the screen has room for, and shrinks and
    // centres a window larger than the screen.
    static void keepWithinScreen(QMainWindow& window);
    // On a screen more than 1200 pixels high, a quarter larger and centred.
    static void growOnLargeScreen(QMainWindow& window);
    // Grows a shown window, within the screen, until page needs no scrolling.
    static void fitPage(QMainWindow& window, CPage* page);
};
