#include "app/window/WindowGeometry.h"

#include <QString>
#include <gtest/gtest.h>

// The sizes the window takes on screens of every kind: within the available area,
// which need not start at the screen's corner (a panel at the top or left).
TEST(WindowGeometryTest, SizesStayWithinTheAvailableArea)
{
    const QRect areas[] = {
        QRect(0, 0, 960, 540),      // 1920x1080 at scale 2
        QRect(0, 27, 1280, 773),    // 1280x800 with a top panel
        QRect(64, 0, 1856, 1080),   // a panel on the left
        QRect(1920, 0, 2560, 1415), // a second, large screen
        QRect(0, 0, 400, 300),      // 800x600 at scale 2
    };
    const QSize sizes[] = {QSize(640, 480), QSize(800, 600), QSize(1600, 1200)};
    for (const QRect& area : areas)
    {
        SCOPED_TRACE(QStringLiteral("available %1,%2 %3x%4")
                         .arg(area.x())
                         .arg(area.y())
                         .arg(area.width())
                         .arg(area.height())
                         .toStdString());
        const QSize least = CWindowGeometry::least(area);
        EXPECT_TRUE(area.contains(QRect(CWindowGeometry::centred(least, area), least)));
        EXPECT_EQ(area.width() >= 850 && area.height() >= 650, least == QSize(800, 600));
        for (const QSize& size : sizes)
        {
            const QSize grown = CWindowGeometry::grown(size, area);
            EXPECT_TRUE(area.contains(QRect(CWindowGeometry::centred(grown, area), grown)))
                << grown.width() << "x" << grown.height();
            // A page far wider and taller than the screen.
            const QSize fitted =
                CWindowGeometry::fitted(size, QSize(3000, 3000), QSize(500, 400), area);
            EXPECT_TRUE(area.contains(QRect(CWindowGeometry::centred(fitted, area), fitted)))
                << fitted.width() << "x" << fitted.height();
        }
    }
    // With room, a large screen's window is a quarter larger, and a page gets what it
    // needs and keeps what the window had beyond it.
    const QRect large(1920, 0, 2560, 1415);
    EXPECT_EQ(QSize(1000, 750), CWindowGeometry::grown(QSize(800, 600), large));
    EXPECT_EQ(QSize(800, 600), CWindowGeometry::grown(QSize(800, 600), QRect(0, 27, 1280, 773)));
    EXPECT_EQ(QSize(1031, 640),
              CWindowGeometry::fitted(QSize(800, 600), QSize(831, 340), QSize(600, 300), large));
    EXPECT_EQ(QSize(900, 600),
              CWindowGeometry::fitted(QSize(900, 600), QSize(500, 300), QSize(600, 300), large));
    EXPECT_EQ(QPoint(1920 + 780, 332), CWindowGeometry::centred(QSize(1000, 750), large));
}
