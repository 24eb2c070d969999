#include "AppTestSupport.h"

#include "app/index/IndexLink.h"
#include "app/index/PageIndex.h"
#include "app/window/AdminPage.h"
#include "app/window/PageSearch.h"

#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTest>

using namespace AppTest;

// Readable failures for Qt strings.
inline void PrintTo(const QString& text, std::ostream* stream)
{
    *stream << '"' << text.toStdString() << '"';
}

namespace
{
// The titles of the index rows that are not hidden, in the order shown.
QStringList visibleRows(CAdminPage& window)
{
    QStringList titles;
    CPageIndex* const index = window.pageIndex();
    QStandardItem* const root = index->indexModel()->invisibleRootItem();
    QList<QStandardItem*> pending{root};
    while (!pending.isEmpty())
    {
        QStandardItem* const item = pending.takeFirst();
        if (item != root)
            titles << item->text();
        QList<QStandardItem*> children;
        for (int row = 0; row < item->rowCount(); ++row)
        {
            if (!index->isRowHidden(row, item->index()))
                children << item->child(row);
        }
        pending = children + pending;
    }
    return titles;
}

QString shownPage(CAdminPage& window)
{
    const CPage* const page = qobject_cast<CPage*>(window.pageHolder()->currentWidget());
    return page ? page->name() : QString();
}

bool marked(QWidget* widget)
{
    return widget && widget->property("searchMatch").toBool();
}
} // namespace

class SearchTest : public AppFixture
{
};

TEST_F(SearchTest, FiltersTheSamplesPagesAndMarksWhatMatches)
{
    CModalAnswerer answerer;
    CAdminPage window(sample("TessarySample.pkg"), QStringList());
    window.show();
    QApplication::setActiveWindow(&window);
    window.activateWindow();
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == &window; }, 2000));
    CPageSearch* const search = window.findChild<CPageSearch*>(QStringLiteral("pageSearch"));
    ASSERT_TRUE(search);
    const QStringList everything = visibleRows(window);
    EXPECT_EQ(
        QStringList({"Welcome", "Deployment", "Management Server", "Installation", "Protection",
                     "Scanning", "Updates", "Network and Service", "Proxy", "Review"}),
        everything);

    // Ctrl+F from a field on the page.
    QLineEdit* const server = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
    ASSERT_TRUE(server);
    server->setFocus();
    QTest::keyClick(server, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(search->hasFocus());

    // Captions and page titles, in any case: the shown page follows.
    QTest::keyClicks(search, QStringLiteral("proxy"));
    EXPECT_EQ(QStringList({"Network and Service", "Proxy"}), visibleRows(window));
    EXPECT_EQ(QStringLiteral("ProxyPage"), shownPage(window));
    EXPECT_TRUE(marked(window.findChild<QAbstractButton*>(QStringLiteral("ProxySystem"))));
    EXPECT_TRUE(marked(window.findChild<QAbstractButton*>(QStringLiteral("ProxyAuth"))));
    // By property name only.
    EXPECT_TRUE(marked(window.findChild<QLineEdit*>(QStringLiteral("ProxyHost"))));
    EXPECT_FALSE(marked(window.findChild<QAbstractButton*>(QStringLiteral("ProxyNone"))));

    // A property name that no caption shows; combo box entries.
    search->setText(QStringLiteral("scan_cpu"));
    EXPECT_EQ(QStringList({"Protection", "Scanning"}), visibleRows(window));
    EXPECT_EQ(QStringLiteral("ScanPage"), shownPage(window));
    EXPECT_TRUE(marked(window.findChild<QSpinBox*>(QStringLiteral("CpuLimit"))));
    EXPECT_FALSE(marked(window.findChild<QLineEdit*>(QStringLiteral("ProxyHost"))));
    search->setText(QStringLiteral("Early access"));
    EXPECT_EQ(QStringList({"Protection", "Updates"}), visibleRows(window));
    EXPECT_EQ(QStringLiteral("UpdatePage"), shownPage(window));
    // The keys move among the pages the index still shows, around the end.
    QTest::keyClick(window.pageIndex(), Qt::Key_Down);
    EXPECT_EQ(QStringLiteral("ProtectionPage"), shownPage(window));
    QTest::keyClick(window.pageIndex(), Qt::Key_Up);
    EXPECT_EQ(QStringLiteral("UpdatePage"), shownPage(window));
    search->setText(QStringLiteral("no such setting"));
    EXPECT_TRUE(visibleRows(window).isEmpty());

    // Escape brings every page back and unmarks the widgets.
    search->setText(QStringLiteral("proxy"));
    QTest::keyClick(search, Qt::Key_Escape);
    EXPECT_TRUE(search->text().isEmpty());
    EXPECT_EQ(everything, visibleRows(window));
    EXPECT_FALSE(marked(window.findChild<QLineEdit*>(QStringLiteral("ProxyHost"))));
    EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
}

TEST_F(SearchTest, FindsHelpTextsAndValuesAndSaysWhenNothingMatches)
{
    CModalAnswerer answerer;
    CAdminPage window(sample("TessarySample.pkg"), QStringList());
    window.show();
    CPageSearch* const search = window.findChild<CPageSearch*>(QStringLiteral("pageSearch"));
    ASSERT_TRUE(search);
    QLineEdit* const server = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
    QLineEdit* const token = window.findChild<QLineEdit*>(QStringLiteral("EnrollmentToken"));
    ASSERT_TRUE(server && token);
    server->setText(QStringLiteral("zebra.example.org"));
    token->setText(QStringLiteral("QWERTYQWERTYQWER"));
    const QStringList everything = visibleRows(window);
    // The page in view before searching.
    const QList<CIndexLink*> scanning = window.pageIndex()->findItems(QStringLiteral("Scanning"));
    ASSERT_EQ(1, scanning.size());
    window.pageIndex()->setCurrentItem(scanning.first());
    ASSERT_EQ(QStringLiteral("ScanPage"), shownPage(window));
    QLabel* const none = window.findChild<QLabel*>(QStringLiteral("noSettingsMatch"));
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->isVisible());

    // The help text shown under the pages.
    search->setText(QStringLiteral("present a valid certificate"));
    EXPECT_EQ(QStringList({"Deployment", "Management Server"}), visibleRows(window));
    EXPECT_EQ(QStringLiteral("ServerPage"), shownPage(window));
    EXPECT_TRUE(marked(window.findChild<QCheckBox*>(QStringLiteral("UseTls"))));
    // A field's current value.
    search->setText(QStringLiteral("ZEBRA"));
    EXPECT_EQ(QStringList({"Deployment", "Management Server"}), visibleRows(window));
    EXPECT_TRUE(marked(server));
    EXPECT_FALSE(marked(window.findChild<QCheckBox*>(QStringLiteral("UseTls"))));
    EXPECT_FALSE(none->isVisible());

    // A secret's value is never searched: that would tell what it holds. With no
    // match the window says so instead of going on showing the last page.
    search->setText(QStringLiteral("qwertyqwerty"));
    EXPECT_TRUE(visibleRows(window).isEmpty());
    EXPECT_TRUE(none->isVisible());
    EXPECT_EQ(QStringLiteral("No settings match"), none->text());
    EXPECT_FALSE(window.pageHolder()->isVisible());
    EXPECT_FALSE(marked(token));

    // Cleared, the search gives back the page it started from.
    search->clear();
    EXPECT_FALSE(none->isVisible());
    EXPECT_TRUE(window.pageHolder()->isVisible());
    EXPECT_EQ(everything, visibleRows(window));
    EXPECT_EQ(QStringLiteral("ScanPage"), shownPage(window));
    EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
}

TEST_F(SearchTest, FindsTheHelpTextOfAListsEntry)
{
    const QString definition = writeFile(
        "search/Entries.xml",
        "<AdminConfig version=\"1.8\" title=\"Entries\"><index>"
        "<indexlink page=\"First\" title=\"First\"/><indexlink page=\"Second\" "
        "title=\"Second\"/></index><pageholder>"
        "<page name=\"First\" title=\"First\" layout=\"vertical\">"
        "<lineedit name=\"Name\" property=\"NAME\"/></page>"
        "<page name=\"Second\" title=\"Second\" layout=\"vertical\">"
        "<combobox name=\"Channel\" property=\"CHANNEL\" default=\"s\">"
        "<entry title=\"Stable\" value=\"s\"/>"
        "<entry title=\"Preview\" value=\"p\" tooltip=\"Gets builds a week before everyone\"/>"
        "</combobox></page></pageholder></AdminConfig>");
    CModalAnswerer answerer;
    CAdminPage window(definition, QStringList());
    window.show();
    CPageSearch* const search = window.findChild<CPageSearch*>(QStringLiteral("pageSearch"));
    ASSERT_TRUE(search);
    search->setText(QStringLiteral("week before"));
    EXPECT_EQ(QStringList({"Second"}), visibleRows(window));
    EXPECT_EQ(QStringLiteral("Second"), shownPage(window));
    EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
}
