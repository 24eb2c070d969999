#include "AppTestSupport.h"
#include "DarkPalette.h"

#include "app/index/PageIndex.h"
#include "app/window/AdminPage.h"

#include "shared/XmlWidgets/Button.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTextBrowser>
#include <cmath>

using namespace AppTest;

namespace
{
// WCAG's relative luminance of a colour.
double luminance(QRgb rgb)
{
    const auto channel = [](int value)
    {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) +
           0.0722 * channel(qBlue(rgb));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// What a part of the window shows: its ground (the colour most of its pixels have)
// and how many pixels stand out from it by the 4.5:1 that text needs.
struct Legibility
{
    QRgb ground = 0;
    int readable = 0;
    double best = 1.0;
};

Legibility legibility(const QImage& image)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
    {
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000u];
    }
    Legibility result;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
    {
        if (it.value() > most)
        {
            most = it.value();
            result.ground = it.key();
        }
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
    {
        const double ratio = contrast(it.key(), result.ground);
        result.best = qMax(result.best, ratio);
        if (ratio >= 4.5)
            result.readable += it.value();
    }
    return result;
}

// The pixels of area (in widget's coordinates) as the window shows them.
QImage shown(CAdminPage& window, const QWidget* widget, const QRect& area)
{
    return window.grab(QRect(widget->mapTo(&window, area.topLeft()), area.size())).toImage();
}

// The application's palette for a test, and the one before it afterwards.
class CPaletteScope
{
public:
    explicit CPaletteScope(const QPalette& palette) : m_before(QApplication::palette())
    {
        QApplication::setPalette(palette);
    }
    ~CPaletteScope() { QApplication::setPalette(m_before); }

    CPaletteScope(const CPaletteScope&) = delete;
    CPaletteScope& operator=(const CPaletteScope&) = delete;

private:
    QPalette m_before;
};

// The parts of the window with text: the page's heading, a field's caption, a
// page's button, the index's rows, the details box and the window's own button.
// Each names how many readable pixels it has against its ground.
QStringList unreadableParts(CAdminPage& window)
{
    QStringList failures;
    const auto check = [&](const QString& name, const QWidget* widget, const QRect& part)
    {
        // Only what is on screen: a page may be scrolled.
        const QRect area = widget ? part & widget->visibleRegion().boundingRect() : QRect();
        if (!widget || !widget->isVisible() || area.isEmpty())
        {
            failures << name + QStringLiteral(": not shown");
            return;
        }
        const Legibility seen = legibility(shown(window, widget, area));
        // A caption of a few letters has well over a hundred such pixels.
        if (seen.readable < 40)
            failures << QStringLiteral("%1: %2 readable pixels on #%3, best contrast %4:1")
                            .arg(name)
                            .arg(seen.readable)
                            .arg(seen.ground & 0xffffff, 6, 16, QLatin1Char('0'))
                            .arg(seen.best, 0, 'f', 2);
    };

    CPage* const page = qobject_cast<CPage*>(window.pageHolder()->currentWidget());
    if (!page)
        return {QStringLiteral("no page shown")};
    page->ensureVisible(0, 0);
    QApplication::processEvents();
    const QLabel* const heading = page->findChild<QLabel*>(QStringLiteral("h1"));
    check(QStringLiteral("heading"), heading, heading ? heading->rect() : QRect());

    const QLabel* caption = nullptr;
    for (const QLabel* label : page->widget()->findChildren<QLabel*>())
    {
        if (label->buddy() && label->isVisible())
        {
            caption = label;
            break;
        }
    }
    check(QStringLiteral("field caption"), caption, caption ? caption->rect() : QRect());

    // Inside the rounded border, which is no text.
    const auto inside = [](const QWidget* button)
    { return button ? button->rect().adjusted(12, 4, -12, -4) : QRect(); };
    CButton* pageButton = nullptr;
    for (CButton* button : page->widget()->findChildren<CButton*>())
    {
        if (button->isVisible() && button->isEnabled() && !button->text().isEmpty())
        {
            pageButton = button;
            break;
        }
    }
    if (pageButton)
    {
        // A small screen shows only part of the page.
        page->ensureWidgetVisible(pageButton);
        QApplication::processEvents();
    }
    check(QStringLiteral("page button"), pageButton, inside(pageButton));
    const QDialogButtonBox* const box = window.findChild<QDialogButtonBox*>();
    const QAbstractButton* const open = box ? box->buttons().value(0) : nullptr;
    if (open)
        check(QStringLiteral("window button \"") + open->text() + QLatin1Char('"'), open,
              inside(open));

    CPageIndex* const index = window.pageIndex();
    const QModelIndex welcome = index->indexModel()->index(0, 0);
    check(QStringLiteral("index row"), index->viewport(),
          index->visualRect(welcome).adjusted(8, 2, -8, -2));
    check(QStringLiteral("current index row"), index->viewport(),
          index->visualRect(index->currentIndex()).adjusted(8, 2, -8, -2));

    window.onMouseOverWidgetImpl(QStringLiteral("Where the agents enroll"));
    QApplication::processEvents();
    const QTextBrowser* const details = window.findChild<QTextBrowser*>();
    check(QStringLiteral("details"), details ? details->viewport() : nullptr,
          details ? details->viewport()->rect() : QRect());
    return failures;
}

void showSample(CAdminPage& window)
{
    window.resize(1280, 800);
    window.show();
    // Shown, fitted and painted.
    waitFor([] { return false; }, 300);
}

class PaletteTest : public AppFixture, public ::testing::WithParamInterface<bool>
{
};
} // namespace

TEST_P(PaletteTest, EveryTextOfTheWindowIsReadable)
{
    const bool dark = GetParam();
    CPaletteScope scope(dark ? darkPalette() : QApplication::style()->standardPalette());
    CModalAnswerer answerer;
    CAdminPage window(sample(QStringLiteral("TessarySample.pkg")), QStringList());
    showSample(window);
    // The light look keeps its white page.
    if (!dark)
    {
        CPage* const page = qobject_cast<CPage*>(window.pageHolder()->currentWidget());
        ASSERT_NE(page, nullptr);
        const QLabel* const heading = page->findChild<QLabel*>(QStringLiteral("h1"));
        ASSERT_NE(heading, nullptr);
        EXPECT_EQ(qRgb(255, 255, 255), legibility(shown(window, heading, heading->rect())).ground);
    }
    const QStringList failures = unreadableParts(window);
    EXPECT_TRUE(failures.isEmpty()) << failures.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Palettes, PaletteTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info)
                         { return info.param ? "Dark" : "Light"; });

// The desktop switching its scheme while the window is open: the window follows,
// there and back.
TEST_F(AppFixture, WindowFollowsAPaletteChangedWhileItIsOpen)
{
    const QPalette light = QApplication::style()->standardPalette();
    CPaletteScope scope(light);
    CModalAnswerer answerer;
    CAdminPage window(sample(QStringLiteral("TessarySample.pkg")), QStringList());
    showSample(window);
    for (const bool dark : {true, false})
    {
        SCOPED_TRACE(dark ? "to dark" : "back to light");
        QApplication::setPalette(dark ? darkPalette() : light);
        QStringList failures;
        waitFor(
            [&]
            {
                failures = unreadableParts(window);
                // Readable is not enough: the page takes the scheme's ground.
                CPage* const page = qobject_cast<CPage*>(window.pageHolder()->currentWidget());
                page->ensureVisible(0, 0);
                const QLabel* const heading = page->findChild<QLabel*>(QStringLiteral("h1"));
                const QRgb ground = legibility(shown(window, heading, heading->rect())).ground;
                if ((luminance(ground) < 0.2) != dark)
                    failures << QStringLiteral("the page's ground is still #%1")
                                    .arg(ground & 0xffffff, 6, 16, QLatin1Char('0'));
                return failures.isEmpty();
            },
            3000);
        EXPECT_TRUE(failures.isEmpty()) << failures.join('\n').toStdString();
    }
}
