#include "AppTestSupport.h"

#include "app/window/AdminPage.h"

#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QUrl>
#include <QWindow>

using namespace AppTest;

namespace
{
CPage* shownPage(CAdminPage& window)
{
    return qobject_cast<CPage*>(window.pageHolder()->currentWidget());
}

QRect available(const QWidget& window)
{
    const QWindow* const handle = window.windowHandle();
    const QScreen* const screen = handle ? handle->screen() : QGuiApplication::primaryScreen();
    return screen->availableGeometry();
}

// Whether the screen has room for the whole sample page beside the index.
bool roomForTheSample(const QWidget& window)
{
    return available(window).width() >= 1400 && available(window).height() >= 900;
}
} // namespace

// The first page shows whole when the screen has room for it. Run on a real (virtual)
// display by its own test entry; the offscreen screen is too small to tell.
TEST_F(AppFixture, FirstPageFitsWithoutScrollingWhenTheScreenHasRoom)
{
    CAdminPage window(sample(QStringLiteral("TessarySample.pkg")), QStringList());
    window.show();
    CPage* const page = shownPage(window);
    ASSERT_NE(page, nullptr);
    const QSize wanted = page->widget()->sizeHint();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    if (available.width() < wanted.width() + 600 || available.height() < wanted.height() + 300)
        GTEST_SKIP() << "the screen (" << available.width() << "x" << available.height()
                     << ") has no room for the page (" << wanted.width() << "x" << wanted.height()
                     << ")";
    EXPECT_TRUE(waitFor([&] { return !page->horizontalScrollBar()->isVisible(); }, 5000))
        << "page " << wanted.width() << " wide, shown " << page->viewport()->width();
    EXPECT_FALSE(page->verticalScrollBar()->isVisible());
    EXPECT_TRUE(available.contains(window.frameGeometry()));
}

// Every way of opening a file into a window started empty grows it to show the first
// page whole. On a virtual display with room, by its own test entry.
TEST_F(AppFixture, PageOpenedIntoAnEmptyWindowFitsHoweverItCame)
{
    const QString path = QFileInfo(sample(QStringLiteral("TessarySample.pkg"))).absoluteFilePath();
    const std::vector<std::pair<const char*, std::function<void(CAdminPage&)>>> ways{
        {"File > Open",
         [&](CAdminPage& window)
         {
             CModalAnswerer answerer;
             answerer.m_lFileAnswers << path;
             findAction(&window, QStringLiteral("&Open"))->trigger();
         }},
        {"a drop",
         [&](CAdminPage& window)
         {
             QMimeData data;
             data.setUrls({QUrl::fromLocalFile(path)});
             const QPoint centre = window.rect().center();
             QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(&window, &enter);
             QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(&window, &drop);
         }},
        {"Open Recent",
         [&](CAdminPage& window)
         {
             window.addRecentFile(path);
             window.addOpenRecentMenu();
             findAction(&window, path)->trigger();
         }},
    };
    for (const auto& way : ways)
    {
        SCOPED_TRACE(way.first);
        CAdminPage window{QString(), QStringList()};
        window.show();
        ASSERT_TRUE(waitFor([&] { return window.isVisible(); }, 5000));
        if (!roomForTheSample(window))
            GTEST_SKIP() << "the screen (" << available(window).width() << "x"
                         << available(window).height() << ") has no room for the sample page";
        way.second(window);
        ASSERT_TRUE(waitFor([&] { return window.sourcePackageFile().absoluteFilePath() == path; }));
        CPage* const page = shownPage(window);
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(waitFor([&] { return !page->horizontalScrollBar()->isVisible(); }, 5000))
            << "window " << window.width() << " wide; page wants "
            << page->QScrollArea::widget()->sizeHint().width() << ", shown in "
            << page->viewport()->width();
        EXPECT_FALSE(page->verticalScrollBar()->isVisible());
        EXPECT_TRUE(available(window).contains(window.frameGeometry()));
    }
}

// On a screen smaller than the window would like (a small screen, or a large one at
// a high scale factor), the window and its least size stay within the screen when it
// is shown and when a page is opened. Its own test entry runs it at scale 2.
TEST_F(AppFixture, WindowNeverOutgrowsASmallScreen)
{
    const QString path = QFileInfo(sample(QStringLiteral("TessarySample.pkg"))).absoluteFilePath();
    for (const bool fromCommandLine : {true, false})
    {
        SCOPED_TRACE(fromCommandLine ? "from the command line" : "opened after starting empty");
        CAdminPage window(fromCommandLine ? path : QString(), QStringList());
        window.show();
        ASSERT_TRUE(waitFor([&] { return window.isVisible(); }, 5000));
        const QRect area = available(window);
        EXPECT_TRUE(area.contains(window.frameGeometry()))
            << "window " << window.width() << "x" << window.height() << " on a screen of "
            << area.width() << "x" << area.height();
        EXPECT_LE(window.minimumWidth(), area.width());
        EXPECT_LE(window.minimumHeight(), area.height());
        if (!fromCommandLine)
            window.open(path);
        ASSERT_EQ(path, window.sourcePackageFile().absoluteFilePath());
        // Give the fit its turn, then look again.
        waitFor([] { return false; }, 300);
        EXPECT_TRUE(area.contains(window.frameGeometry()))
            << "window " << window.width() << "x" << window.height() << " on a screen of "
            << area.width() << "x" << area.height();
    }
}
