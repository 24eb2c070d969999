#pragma once

class CPage;
class QMainWindow;

// How big the main window is: a quarter larger on a large screen, and as large as
// the shown page needs, within the screen.
class CWindowGeometry
{
public:
    // On a screen more than 1200 pixels high, a quarter larger and centred.
    static void growOnLargeScreen(QMainWindow& window);
    // Grows the window, within the screen, until page needs no scrolling.
    static void fitPage(QMainWindow& window, CPage* page);
};
