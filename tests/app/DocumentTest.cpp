#include "AppTestSupport.h"

#include "app/index/PageIndex.h"
#include "app/window/AdminPage.h"
#include "tests/support/TestEnvironment.h"

#include "shared/XmlWidgets/PageHolder.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStandardItemModel>
#include <QTest>
#include <QUrl>
#include <memory>

using namespace AppTest;

class DocumentTest : public AppFixture
{
};

TEST_F(DocumentTest, RecentFilesSurviveARestartWithoutAdminConfigPaths)
{
    const QString flat = QFileInfo(sample("TessarySample.pkg")).absoluteFilePath();
    const QString bundle = QFileInfo(sample("TessarySample-bundle.pkg")).absoluteFilePath();
    const QString adminConfig = writeFile("direct/AdminConfig.xml",
                                          "<AdminConfig version=\"1.8\" title=\"Direct\">"
                                          "<pageholder><page name=\"P\" title=\"P\"/></pageholder>"
                                          "</AdminConfig>");
    {
        CModalAnswerer answerer;
        CAdminPage window(flat, QStringList());
        window.open(bundle);
        window.open(flat); // again: moves to the front, no duplicate
        window.open(adminConfig);
        EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
        EXPECT_EQ(QStringLiteral("Tessary: Direct - AdminConfig.xml"), window.windowTitle());
        EXPECT_EQ(QStringList({flat, bundle}), window.recentFiles());
    }
    {
        CAdminPage window{QString(), QStringList()};
        ASSERT_TRUE(waitFor([&] { return window.recentFiles().size() == 2; }))
            << window.recentFiles().join('|').toStdString();
        EXPECT_EQ(QStringList({flat, bundle}), window.recentFiles());
        // The list loaded from the store does not grow past its limit either.
        for (int i = 0; i < 12; ++i)
            window.addRecentFile(testPath(QStringLiteral("p%1.pkg").arg(i)));
        window.addRecentFile(adminConfig);
        ASSERT_EQ(10, window.recentFiles().size());
        EXPECT_EQ(testPath("p11.pkg"), window.recentFiles().first());
        EXPECT_EQ(testPath("p2.pkg"), window.recentFiles().last());
    }
}

namespace
{
// Sends a drag with these URLs to the window; returns whether it was accepted.
bool drop(CAdminPage* window, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint centre = window->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropEvent(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &dropEvent);
    return dropEvent.isAccepted();
}
} // namespace

TEST_F(DocumentTest, DroppedBundleDirectoryOpens)
{
    const QString bundle = testPath("Foo.pkg");
    ASSERT_EQ(0,
              TestSupport::runCommand("cp -R '" + sample("TessarySample-bundle.pkg").toStdString() +
                                      "' '" + bundle.toStdString() + "'"));
    const QString text = writeFile("notes.txt", "hello\n");

    CModalAnswerer answerer;
    CAdminPage window{QString(), QStringList()};
    EXPECT_FALSE(drop(&window, {QUrl::fromLocalFile(text)}));
    EXPECT_FALSE(drop(&window, {QUrl(QStringLiteral("https://example.org/Foo.pkg"))}));
    EXPECT_FALSE(drop(&window, {}));

    // Only the first file counts, and a bundle's trailing "/" is dropped.
    EXPECT_TRUE(drop(&window, {QUrl::fromLocalFile(bundle + "/"), QUrl::fromLocalFile(text)}));
    ASSERT_TRUE(waitFor([&] { return window.sourcePackageFile().fileName() == "Foo.pkg"; }));
    EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
    EXPECT_GT(window.pageIndex()->indexModel()->rowCount(), 1);
    EXPECT_EQ(QStringList{bundle}, window.recentFiles());
}

class RefusedDefinitionTest : public AppFixture
{
protected:
    // Opens the sample, then a definition that must be refused; returns the messages.
    QStringList openRefused(const QByteArray& definition)
    {
        const QString path = writeFile("refused/Definition.xml", definition);
        CModalAnswerer answerer;
        CAdminPage window(sample("TessarySample.pkg"), QStringList());
        EXPECT_GT(window.pageHolder()->count(), 1);
        window.open(path);
        // The refused definition leaves nothing behind; the previous document comes back.
        EXPECT_EQ(QStringLiteral("Tessary: Ombrel Sentinel - Untitled"), window.windowTitle());
        EXPECT_EQ(QStringLiteral("TessarySample.pkg"), window.sourcePackageFile().fileName());
        EXPECT_TRUE(window.findChildObjects("Refused").isEmpty());
        EXPECT_FALSE(window.recentFiles().contains(path));
        return answerer.m_lSeen;
    }
};

TEST_F(RefusedDefinitionTest, VersionMinAboveTheToolOnTheRootIsOutOfDate)
{
    const QStringList texts =
        openRefused("<AdminConfig version=\"1.8\" versionmin=\"1.9\" title=\"Future\">"
                    "<pageholder><page name=\"Refused\" title=\"R\"/></pageholder></AdminConfig>");
    ASSERT_EQ(1, texts.size());
    // Shown as rich text, so that the download address is a link.
    EXPECT_TRUE(texts.first().startsWith("Failed to parse XML content.<br><br>Details:<br>"));
    EXPECT_TRUE(texts.first().contains("Your version of Tessary is out of date."))
        << texts.first().toStdString();
}

TEST_F(RefusedDefinitionTest, GalleryActionNeedsVersionOnePointSix)
{
    const QStringList texts = openRefused(
        "<AdminConfig version=\"1.8\" title=\"Gallery\"><pageholder>"
        "<page name=\"Refused\" title=\"R\"><galleryaction signal=\"clicked\" slot=\"x\"/></page>"
        "</pageholder></AdminConfig>");
    EXPECT_EQ(QStringList{"An earlier version of Tessary is required to customize this installer. "
                          "Version 1.6 or earlier must be used."},
              texts);
}

TEST_F(RefusedDefinitionTest, RootWithoutVersionAndUnknownPagesAreRefused)
{
    QStringList texts = openRefused("<AdminConfig title=\"No version\"/>");
    EXPECT_EQ(QStringList{"Failed to parse XML content.\n\nDetails:\nRoot element requires "
                          "\"version\" attribute"},
              texts);
    texts = openRefused("<AdminConfig version=\"1.8\" title=\"T\">"
                        "<index><indexlink page=\"Missing\" title=\"M\"/></index>"
                        "<pageholder><page name=\"Refused\" title=\"R\"/></pageholder>"
                        "</AdminConfig>");
    ASSERT_EQ(1, texts.size());
    EXPECT_TRUE(texts.first().endsWith("Could not find page named \"Missing\" to index to."))
        << texts.first().toStdString();
}

TEST_F(DocumentTest, CustomizationFileReopensItsInstallerAndYesSavesBackToIt)
{
    const QString flat = QFileInfo(sample("TessarySample.pkg")).absoluteFilePath();
    const QString custom = writeFile(
        "saved/custom.xml",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<AdminCustomization version=\"1.0\" "
        "source=\"" +
            flat.toUtf8() +
            "\" lastSaveFile=\"\"><properties>"
            "<property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\" "
            "value=\"attribute.example.org\">text.example.org</property>"
            "<property name=\"SENTINEL_SERVER_PORT\" widget=\"ServerPort\">9443</property>"
            "<property name=\"OTHER_NAME\" widget=\"ServerPort\">1</property>"
            "</properties></AdminCustomization>\n");

    CModalAnswerer answerer(QMessageBox::Yes);
    auto window = std::make_unique<CAdminPage>(custom, QStringList());
    // The entry that names no field of the installer is told, not dropped in silence.
    ASSERT_EQ(1, answerer.m_lSeen.size()) << answerer.m_lSeen.join('\n').toStdString();
    EXPECT_TRUE(answerer.m_lSeen.first().contains("OTHER_NAME (ServerPort)"))
        << answerer.m_lSeen.first().toStdString();
    answerer.m_lSeen.clear();
    EXPECT_EQ(flat, window->sourcePackageFile().absoluteFilePath());
    EXPECT_EQ(custom, window->configurationFile().absoluteFilePath());
    EXPECT_EQ(QStringLiteral("Tessary: Ombrel Sentinel - custom.xml"), window->windowTitle());
    EXPECT_EQ(QStringList{custom}, window->recentFiles());
    QLineEdit* const address = window->findChild<QLineEdit*>("ServerAddress");
    QLineEdit* const port = window->findChild<QLineEdit*>("ServerPort");
    ASSERT_TRUE(address && port);
    EXPECT_EQ(QStringLiteral("attribute.example.org"), address->text());
    EXPECT_EQ(QStringLiteral("9443"), port->text());

    address->clear();
    QTest::keyClicks(address, "saved.example.org");
    EXPECT_TRUE(window->close());
    EXPECT_EQ(QStringList{"Do you want to save your changes to custom.xml?"}, answerer.m_lSeen);
    window.reset();

    QFile saved(custom);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.contains("<AdminCustomization version=\"1.0\" source=\"" + flat.toUtf8() +
                              "\" lastSaveFile=\"\" productVersion=\""))
        << text.toStdString();
    EXPECT_TRUE(text.contains(
        "<property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\">saved.example.org"
        "</property>"))
        << text.toStdString();
    EXPECT_TRUE(text.contains(
        "<property name=\"SENTINEL_SERVER_PORT\" widget=\"ServerPort\">9443</property>"));
}

TEST_F(DocumentTest, OpenRecentOpensReadableEntriesAndDropsMissingOnes)
{
    const QString flat = QFileInfo(sample("TessarySample.pkg")).absoluteFilePath();
    const QString missing = testPath("Gone.pkg");
    CModalAnswerer answerer;
    CAdminPage window{QString(), QStringList()};
    QMenu* recent = nullptr;
    for (QMenu* menu : window.findChildren<QMenu*>())
        if (menu->title() == "Open &Recent...")
            recent = menu;
    ASSERT_NE(nullptr, recent);
    EXPECT_FALSE(recent->isEnabled());

    window.addRecentFile(flat);
    window.addRecentFile(missing);
    EXPECT_TRUE(recent->isEnabled());
    window.addOpenRecentMenu();
    ASSERT_EQ(2, recent->actions().size());
    EXPECT_EQ(missing, recent->actions().at(0)->text());

    recent->actions().at(0)->trigger();
    EXPECT_EQ(QStringList{"Could not open " + missing}, answerer.m_lSeen);
    EXPECT_EQ(QStringList{flat}, window.recentFiles());

    window.addOpenRecentMenu();
    ASSERT_EQ(1, recent->actions().size());
    recent->actions().at(0)->trigger();
    // The file opens on the next turn of the event loop.
    ASSERT_TRUE(waitFor([&] { return window.sourcePackageFile().absoluteFilePath() == flat; }));
    EXPECT_GT(window.pageHolder()->count(), 1);
}
