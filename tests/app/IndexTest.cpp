#include "AppTestSupport.h"

#include "app/index/IndexLink.h"
#include "app/index/PageIndex.h"
#include "app/window/AdminPage.h"
#include "app/window/WelcomePage.h"

#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QApplication>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTest>
#include <memory>

using namespace AppTest;

namespace
{
QStandardItem* findRow(CPageIndex* index, const QString& text)
{
    const QList<QStandardItem*> items = index->indexModel()->findItems(
        text, Qt::MatchExactly | Qt::MatchCaseSensitive | Qt::MatchRecursive);
    return items.isEmpty() ? nullptr : items.first();
}

QString currentRow(CPageIndex* index)
{
    QStandardItem* const item = index->indexModel()->itemFromIndex(index->currentIndex());
    return item ? item->text() : QString();
}
} // namespace

class IndexTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        m_pWindow = std::make_unique<CAdminPage>(sample("TessarySample.pkg"), QStringList());
        m_pWindow->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pWindow.get()));
        m_pIndex = m_pWindow->pageIndex();
    }
    void TearDown() override
    {
        m_pWindow.reset();
        AppFixture::TearDown();
    }

    void press(Qt::Key key) { QTest::keyClick(m_pIndex, key); }
    QString activePage() const { return m_pWindow->pageHolder()->activePage()->objectName(); }

    std::unique_ptr<CAdminPage> m_pWindow;
    CPageIndex* m_pIndex = nullptr;
};

TEST_F(IndexTest, ClickingRowsShowsTheirPagesAndSkipsRowsWithoutPage)
{
    EXPECT_EQ(QStringLiteral("Management Server"), currentRow(m_pIndex));

    QTest::mouseClick(m_pIndex->viewport(), Qt::LeftButton, Qt::NoModifier,
                      m_pIndex->visualRect(findRow(m_pIndex, "Updates")->index()).center());
    EXPECT_EQ(QStringLiteral("Updates"), currentRow(m_pIndex));
    EXPECT_EQ(QStringLiteral("UpdatePage"), activePage());

    // A group without a page hands the selection to the first page after it.
    QTest::mouseClick(
        m_pIndex->viewport(), Qt::LeftButton, Qt::NoModifier,
        m_pIndex->visualRect(findRow(m_pIndex, "Network and Service")->index()).center());
    EXPECT_EQ(QStringLiteral("Proxy"), currentRow(m_pIndex));
    EXPECT_EQ(QStringLiteral("ProxyPage"), activePage());

    // A group with a page is a page like any other.
    m_pIndex->setCurrentItem(CIndexLink::fromItem(findRow(m_pIndex, "Protection")));
    EXPECT_EQ(QStringLiteral("ProtectionPage"), activePage());

    m_pIndex->setCurrentItem(CIndexLink::fromItem(findRow(m_pIndex, "Welcome")));
    EXPECT_EQ(m_pWindow->welcomePage(), m_pWindow->pageHolder()->activePage());
}

TEST_F(IndexTest, UpAndDownSkipRowsWithoutPageAndWrap)
{
    press(Qt::Key_Up);
    EXPECT_EQ(QStringLiteral("Welcome"), currentRow(m_pIndex));
    press(Qt::Key_Up);
    EXPECT_EQ(QStringLiteral("Review"), currentRow(m_pIndex));
    EXPECT_EQ(QStringLiteral("SummaryPage"), activePage());
    press(Qt::Key_Down);
    EXPECT_EQ(QStringLiteral("Welcome"), currentRow(m_pIndex));
    press(Qt::Key_Down);
    EXPECT_EQ(QStringLiteral("Management Server"), currentRow(m_pIndex));

    const QStringList downwards{"Installation", "Protection", "Scanning", "Updates",
                                "Proxy",        "Review",     "Welcome"};
    for (const QString& expected : downwards)
    {
        press(Qt::Key_Down);
        EXPECT_EQ(expected, currentRow(m_pIndex));
    }

    // Up from a group's first child passes over the group to the row before it.
    m_pIndex->setCurrentItem(CIndexLink::fromItem(findRow(m_pIndex, "Scanning")));
    press(Qt::Key_Up);
    EXPECT_EQ(QStringLiteral("Installation"), currentRow(m_pIndex));
    press(Qt::Key_Up);
    EXPECT_EQ(QStringLiteral("Management Server"), currentRow(m_pIndex));
    press(Qt::Key_Up);
    EXPECT_EQ(QStringLiteral("Welcome"), currentRow(m_pIndex));
}

TEST_F(IndexTest, EditingAValueMarksItsRowAndTheTitle)
{
    EXPECT_EQ(QStringLiteral("Tessary: Ombrel Sentinel - Untitled"), m_pWindow->windowTitle());
    QStandardItem* const serverRow = findRow(m_pIndex, "Management Server");
    EXPECT_FALSE(serverRow->font().bold());

    QLineEdit* const address = m_pWindow->findChild<QLineEdit*>("ServerAddress");
    ASSERT_NE(nullptr, address);
    address->setFocus();
    QTest::keyClicks(address, "console.example.org");

    EXPECT_TRUE(serverRow->font().bold());
    EXPECT_FALSE(findRow(m_pIndex, "Updates")->font().bold());
    EXPECT_EQ(QStringLiteral("Tessary: Ombrel Sentinel - Untitled *"), m_pWindow->windowTitle());
}

TEST_F(IndexTest, CancelInTheSavePromptKeepsEverything)
{
    QLineEdit* const address = m_pWindow->findChild<QLineEdit*>("ServerAddress");
    ASSERT_NE(nullptr, address);
    QTest::keyClicks(address, "console.example.org");
    const QString title = m_pWindow->windowTitle();
    ASSERT_TRUE(title.endsWith(" *"));

    CModalAnswerer answerer(QMessageBox::Cancel);
    EXPECT_FALSE(m_pWindow->close());
    m_pWindow->open(sample("TessarySample-bundle.pkg"));

    ASSERT_EQ(2, answerer.m_lSeen.size());
    EXPECT_EQ(QStringLiteral("Do you want to save your changes to Untitled?"),
              answerer.m_lSeen.at(0));
    EXPECT_TRUE(m_pWindow->isVisible());
    EXPECT_EQ(title, m_pWindow->windowTitle());
    EXPECT_EQ(QStringLiteral("console.example.org"), address->text());
    EXPECT_EQ(QFileInfo(sample("TessarySample.pkg")).absoluteFilePath(),
              m_pWindow->sourcePackageFile().absoluteFilePath());

    // No discards the changes and goes on.
    answerer.setAnswer(QMessageBox::No);
    m_pWindow->open(sample("TessarySample-bundle.pkg"));
    EXPECT_EQ(QStringLiteral("TessarySample-bundle.pkg"),
              m_pWindow->sourcePackageFile().fileName());
    EXPECT_FALSE(m_pWindow->windowTitle().endsWith(" *"));
}
