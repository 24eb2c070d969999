// What the window tells the administrator: why a file did not open (over the
// window), what the welcome page offers, where a publish went, and which pages
// an unchanged document marks as modified (none).
#include "AppTestSupport.h"

#include "app/index/PageIndex.h"
#include "app/window/AdminPage.h"
#include "app/window/WelcomePage.h"
#include "app/window/WindowMessages.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QUrl>
#include <memory>

using namespace AppTest;

namespace
{
// Every row of the index whose page is marked modified.
QStringList markedRows(CPageIndex* index)
{
    QStringList marked;
    std::function<void(QStandardItem*)> walk = [&](QStandardItem* parent)
    {
        for (int i = 0; i < parent->rowCount(); ++i)
        {
            QStandardItem* const item = parent->child(i);
            // The welcome row is bold from the start: it is no page of the document.
            if (item->font().bold() && item->text() != QLatin1String("Welcome"))
                marked << item->text();
            walk(item);
        }
    };
    walk(index->indexModel()->invisibleRootItem());
    return marked;
}

// Records the URLs the desktop was asked to open instead of opening them.
class CUrlCatcher : public QObject
{
    Q_OBJECT

public:
    CUrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~CUrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> m_lOpened;

public slots:
    void open(const QUrl& url) { m_lOpened << url; }
};
} // namespace

class MessagesTest : public AppFixture
{
protected:
    // Hands the next message box to look, which answers it.
    static void onNextBox(CModalAnswerer& answerer, const std::function<void(QMessageBox*)>& look)
    {
        answerer.once(
            [look](QDialog* dialog)
            {
                QMessageBox* const box = qobject_cast<QMessageBox*>(dialog);
                if (box)
                    look(box);
                return box != nullptr;
            });
    }
};

TEST_F(MessagesTest, ATruncatedPackageSaysWhyOverTheWindow)
{
    const QByteArray whole = bytesOf(sample("TessarySample.pkg"));
    ASSERT_GT(whole.size(), 1000);
    const QString truncated = writeFile("Truncated.pkg", whole.left(whole.size() / 3));

    QString text;
    bool overWindow = false;
    CModalAnswerer answerer(CModalAnswerer::HandlersOnly);
    onNextBox(answerer,
              [&](QMessageBox* box)
              {
                  text = box->text();
                  overWindow = box->parentWidget() && box->parentWidget()->isVisible();
                  box->button(QMessageBox::Ok)->click();
              });
    CAdminPage window(truncated, QStringList());
    ASSERT_FALSE(text.isEmpty());
    EXPECT_TRUE(overWindow);
    EXPECT_TRUE(text.startsWith(QStringLiteral("\"%1\" isn't a valid KORVA installation package.")
                                    .arg(QDir::toNativeSeparators(truncated))))
        << text.toStdString();
    // The reader's reason follows, in the tool's words.
    const QString details = text.section(QStringLiteral("Details:\n"), 1);
    EXPECT_TRUE(details.startsWith(QDir::toNativeSeparators(truncated) + ": xar"))
        << text.toStdString();
    EXPECT_TRUE(window.sourcePackageFile().filePath().isEmpty());
}

TEST_F(MessagesTest, TheWelcomePageNamesEveryKindAndOpensRecentFiles)
{
    CAdminPage window{QString(), QStringList()};
    CWelcomePage* const welcome = window.welcomePage();
    QStringList texts;
    for (QLabel* label : welcome->findChildren<QLabel*>())
        texts << label->text();
    const QString all = texts.join('\n');
    for (const char* kind : {".dmg", ".pkg", ".mpkg", ".package", ".xml"})
        EXPECT_TRUE(all.contains(QLatin1String(kind))) << kind;
    EXPECT_TRUE(all.contains(QLatin1String("drop a file on this window")));

    // A name that would reorder or fake a line is shown escaped.
    const QString hostile = writeFile(QStringLiteral("exe\u202E.pkg"), "not a package");
    window.addRecentFile(hostile);
    window.addRecentFile(sample("TessarySample.pkg"));
    const QList<QLabel*> links = welcome->recentLinks();
    ASSERT_EQ(2, links.size());
    EXPECT_TRUE(links.at(0)->text().contains(QLatin1String("TessarySample.pkg")));
    EXPECT_TRUE(links.at(1)->text().contains(QLatin1String("exe\\u202e.pkg")))
        << links.at(1)->text().toStdString();
    EXPECT_FALSE(links.at(1)->text().contains(QChar(0x202E)));
    EXPECT_EQ(Qt::StrongFocus, links.at(0)->focusPolicy());
    EXPECT_FALSE(links.at(0)->accessibleName().isEmpty());

    emit links.at(0)->linkActivated(QStringLiteral("0"));
    ASSERT_TRUE(waitFor([&] { return !window.sourcePackageFile().filePath().isEmpty(); }));
    EXPECT_EQ(QFileInfo(sample("TessarySample.pkg")).absoluteFilePath(),
              window.sourcePackageFile().absoluteFilePath());

    // A link is no address: whatever it names, only the list's own entries open.
    QLabel* const first = welcome->recentLinks().first();
    emit first->linkActivated(QStringLiteral("file:///etc/passwd"));
    emit first->linkActivated(QStringLiteral("7"));
    EXPECT_EQ(QFileInfo(sample("TessarySample.pkg")).absoluteFilePath(),
              window.sourcePackageFile().absoluteFilePath());

    // A file that cannot be opened any more leaves the list from its own link.
    CModalAnswerer answerer;
    QFile::remove(hostile);
    QLabel* const gone = welcome->recentLinks().at(1);
    emit gone->linkActivated(QStringLiteral("1"));
    EXPECT_EQ(
        QStringList{
            QStringLiteral("Could not open %1").arg(hostile).replace(QChar(0x202E), "\\u202e")},
        answerer.m_lTexts);
    EXPECT_EQ(1, welcome->recentLinks().size());
}

TEST_F(MessagesTest, ThePublishedMessageNamesTheOutputAndShowsItsFolder)
{
    const QString output = testPath("out/<b>Custom & co.pkg");
    CUrlCatcher catcher;
    QString informative;
    bool plain = false;
    CModalAnswerer answerer(CModalAnswerer::HandlersOnly);
    onNextBox(answerer,
              [&](QMessageBox* box)
              {
                  informative = box->informativeText();
                  QLabel* const path = box->findChild<QLabel*>("qt_msgbox_informativelabel");
                  plain = path && path->textFormat() == Qt::PlainText;
                  for (QAbstractButton* button : box->buttons())
                      if (button->text() == QLatin1String("Show in File Manager"))
                          button->click();
              });
    CWindowMessages::informPublished(nullptr, QStringLiteral("Sample"),
                                     QStringLiteral("Tessary successfully generated the "
                                                    "installation package."),
                                     output);
    EXPECT_EQ(QDir::toNativeSeparators(output), informative);
    EXPECT_TRUE(plain);
    ASSERT_EQ(1, catcher.m_lOpened.size());
    EXPECT_EQ(QUrl::fromLocalFile(testPath("out")).toString().toStdString(),
              catcher.m_lOpened.first().toString().toStdString());
}

TEST_F(MessagesTest, ReopeningAnUnchangedCustomizationMarksNoPage)
{
    CModalAnswerer answerer;
    const QString settings = testPath("unchanged.xml");
    {
        CAdminPage window(sample("TessarySample.pkg"), QStringList());
        EXPECT_EQ("", markedRows(window.pageIndex()).join(", ").toStdString());
        ASSERT_TRUE(window.saveXMLToFile(QFile::encodeName(settings)));
    }
    CAdminPage reopened(settings, QStringList());
    reopened.show();
    // Marks set by anything queued while opening count too.
    waitFor([] { return false; }, 300);
    EXPECT_FALSE(reopened.isChanged());
    EXPECT_EQ("", markedRows(reopened.pageIndex()).join(", ").toStdString());
    EXPECT_FALSE(reopened.windowTitle().endsWith(" *"));
}

#include "MessagesTest.moc"
