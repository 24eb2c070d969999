#include "AppTestSupport.h"

#include "app/window/AdminPage.h"

#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

using namespace AppTest;

// The first page shows whole when the screen has room for it. Run on a real (virtual)
// display by its own test entry; the offscreen screen is too small to tell.
TEST_F(AppFixture, FirstPageFitsWithoutScrollingWhenTheScreenHasRoom)
{
    CAdminPage window(sample(QStringLiteral("TessarySample.pkg")), QStringList());
    window.show();
    CPage* const page = qobject_cast<CPage*>(window.pageHolder()->currentWidget());
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
