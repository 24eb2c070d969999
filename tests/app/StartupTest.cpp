#include "AppTestSupport.h"

#include "app/index/IndexLink.h"
#include "app/index/PageIndex.h"
#include "app/window/AboutDialog.h"
#include "app/window/AdminPage.h"
#include "app/window/CommandLine.h"
#include "app/window/WelcomePage.h"
#include "tests/support/TestEnvironment.h"

#include "app/validation/ValidateUrlAction.h"
#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTextBrowser>
#include <memory>
#include <sys/stat.h>

using namespace AppTest;

namespace
{
QStringList rowTexts(CAdminPage* window)
{
    QStringList texts;
    QStandardItemModel* const model = window->pageIndex()->indexModel();
    for (int row = 0; row < model->rowCount(); ++row)
    {
        QStandardItem* const item = model->item(row);
        texts.append(item->text());
        for (int child = 0; child < item->rowCount(); ++child)
            texts.append(QStringLiteral("  ") + item->child(child)->text());
    }
    return texts;
}

void expectWelcomeOnly(CAdminPage* window)
{
    EXPECT_EQ(1, window->pageIndex()->indexModel()->rowCount());
    EXPECT_EQ(QStringLiteral("Welcome"), window->pageIndex()->indexModel()->item(0)->text());
    EXPECT_EQ(1, window->pageHolder()->count());
    EXPECT_EQ(window->welcomePage(), window->pageHolder()->activePage());
    EXPECT_EQ(QStringLiteral("Welcome"), window->pageIndex()->currentLink()->text());
}
} // namespace

TEST(CommandLineTest, SplitsOptionsAndFile)
{
    const CCommandLine line({"-X", "/y", "file1", "--a-b", "-", "/Debug/", "file2"});
    EXPECT_EQ(QStringList({"x", "y", "ab", "", "debug"}), line.options());
    EXPECT_EQ(QStringLiteral("file2"), line.file());
    EXPECT_TRUE(CCommandLine({}).file().isEmpty());
    // An absolute path that exists is a file, whatever its first character.
    const QString existing =
        QFileInfo(writeFile(QStringLiteral("startup.cpp"), "x")).absoluteFilePath();
    const CCommandLine absolute({"/Debug", existing});
    EXPECT_EQ(existing, absolute.file());
    EXPECT_EQ(QStringList{"debug"}, absolute.options());
    // So is one that is plainly a path, even when it is missing.
    for (const char* missing : {"/Missing/File", "/File.PKG", "/gone.xml"})
    {
        const CCommandLine line({missing, "/Debug/"});
        EXPECT_EQ(missing, line.file());
        EXPECT_EQ(QStringList{"debug"}, line.options());
    }
}

class StartupTest : public AppFixture
{
};

TEST_F(StartupTest, WithoutFileShowsOnlyTheWelcomePage)
{
    // A style sheet in the working directory comes after the built-in ones.
    QFile local(QDir::current().filePath("style.qss"));
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.write("QLabel#local { color: red; }\n");
    local.close();

    CModalAnswerer answerer;
    CAdminPage window{QString(), QStringList()};
    window.show();
    expectWelcomeOnly(&window);
    EXPECT_EQ(QStringLiteral("Tessary"), window.windowTitle());
    EXPECT_TRUE(answerer.m_lSeen.isEmpty());
    // Nothing to save or publish yet; opening is always possible.
    EXPECT_FALSE(findAction(&window, "&Save")->isEnabled());
    EXPECT_FALSE(findAction(&window, "Publish &customizations...")->isEnabled());
    EXPECT_FALSE(findAction(&window, "I&mport...")->isEnabled());
    EXPECT_TRUE(findAction(&window, "&Open")->isEnabled());
    EXPECT_EQ(QStringLiteral("welcome"), window.welcomePage()->objectName());
    EXPECT_EQ(QStringLiteral("Welcome to the Tessary"),
              window.welcomePage()->findChild<QLabel*>("h1")->text());
    const QString styleSheet = qApp->styleSheet();
    EXPECT_TRUE(styleSheet.contains("CPageIndex {"));
    EXPECT_TRUE(styleSheet.contains("QFileDialog QPushButton"));
    EXPECT_TRUE(styleSheet.endsWith("QLabel#local { color: red; }\n"));
}

struct SampleCase
{
    const char* file;
    const char* os;
};

class SampleStartupTest : public AppFixture, public ::testing::WithParamInterface<SampleCase>
{
};

TEST_P(SampleStartupTest, OpensTheSampleBeforeTheWindowIsShown)
{
    const QString path = sample(QString::fromUtf8(GetParam().file));
    CModalAnswerer answerer;
    CAdminPage window(path, QStringList());
    EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
    const QStringList rows = rowTexts(&window);
    EXPECT_EQ(QStringLiteral("Welcome"), rows.value(0));
    EXPECT_TRUE(rows.contains("  Management Server")) << rows.join('|').toStdString();
    // "package" filtering follows the installer's operating system.
    EXPECT_EQ(QString::fromUtf8(GetParam().os) == "linux", rows.contains("  Linux Service"));
    // Without -diagnostics the flagged page stays out.
    EXPECT_FALSE(rows.contains("  Diagnostics"));
    ASSERT_NE(nullptr, window.pageIndex()->currentLink());
    EXPECT_EQ(QStringLiteral("ServerPage"), window.pageHolder()->activePage()->objectName());
    EXPECT_EQ(QStringLiteral("Tessary: Ombrel Sentinel - Untitled"), window.windowTitle());
    EXPECT_EQ(QStringList{QFileInfo(path).absoluteFilePath()}, window.recentFiles());
    EXPECT_TRUE(findAction(&window, "&Save")->isEnabled());
    EXPECT_TRUE(findAction(&window, "I&mport...")->isEnabled());
    EXPECT_EQ(QFileInfo(path).absolutePath(), window.lastOpenedDirectory());

    // The application's factory made the web check of the relay button.
    const QList<CXmlObject*> buttons = window.findChildObjects("CheckRelay");
    ASSERT_EQ(1, buttons.size());
    ASSERT_EQ(1, buttons.first()->actionItems().size());
    EXPECT_NE(nullptr, dynamic_cast<CValidateUrlAction*>(buttons.first()->actionItems().first()));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SampleStartupTest,
    ::testing::Values(SampleCase{"TessarySample.pkg", "mac"},
                      SampleCase{"TessarySample-bundle.pkg", "mac"},
                      SampleCase{"TessarySample.mpkg", "mac"},
                      SampleCase{"TessarySample.dmg", "mac"},
                      SampleCase{"TessarySample.package", "linux"}),
    [](const ::testing::TestParamInfo<SampleCase>& info)
    {
        QString name = QString::fromUtf8(info.param.file);
        return name.replace(QRegularExpression("[^A-Za-z0-9]"), "_").toStdString();
    });

TEST_F(StartupTest, BadFilesWarnAndLeaveTheWelcomePage)
{
    const QString junk = writeFile("Broken.pkg", "this is not an installer\n");
    {
        CModalAnswerer answerer;
        CAdminPage window(junk, QStringList());
        ASSERT_EQ(1, answerer.m_lSeen.size());
        EXPECT_EQ(QStringLiteral("\"%1\" isn't a valid KORVA installation package.").arg(junk),
                  answerer.m_lSeen.first());
        expectWelcomeOnly(&window);
        EXPECT_TRUE(window.recentFiles().isEmpty());
        EXPECT_FALSE(findAction(&window, "&Save")->isEnabled());
    }
    {
        CModalAnswerer answerer;
        CAdminPage window(testPath("notes.txt"), QStringList());
        EXPECT_EQ(QStringList{"File doesn't exist, or isn't a valid KORVA installation package."},
                  answerer.m_lSeen);
        expectWelcomeOnly(&window);
    }
    {
        // A bundle whose page definition is a FIFO: the message says what was wrong.
        const QString bundle = testPath("Fifo.pkg");
        ASSERT_EQ(QProcess::execute(QStringLiteral("cp"),
                                    {QStringLiteral("-R"),
                                     sample(QStringLiteral("TessarySample-bundle.pkg")), bundle}),
                  0);
        const QString config = bundle + QStringLiteral("/Contents/Resources/AdminConfig.xml");
        ASSERT_TRUE(QFile::remove(config));
        ASSERT_EQ(::mkfifo(QFile::encodeName(config).constData(), 0644), 0);
        CModalAnswerer answerer;
        CAdminPage window(bundle, QStringList());
        ASSERT_EQ(1, answerer.m_lSeen.size());
        EXPECT_TRUE(answerer.m_lSeen.first().startsWith(
            QStringLiteral("\"%1\" isn't a valid KORVA installation package.\n\nDetails:\n")
                .arg(bundle)))
            << answerer.m_lSeen.first().toStdString();
        EXPECT_TRUE(
            answerer.m_lSeen.first().endsWith(config + QStringLiteral(": is not a regular file")))
            << answerer.m_lSeen.first().toStdString();
        expectWelcomeOnly(&window);
    }
}

TEST_F(StartupTest, ShowflagElementsFollowTheCommandLineOptions)
{
    const QString definition =
        writeFile("flags/Flags.xml",
                  "<AdminConfig version=\"1.8\" title=\"Flags\">"
                  "<index><indexlink page=\"P1\" title=\"One\"/>"
                  "<indexlink page=\"P2\" title=\"Debug page\" showflag=\"Debug\"/></index>"
                  "<pageholder><page name=\"P1\" title=\"One\" layout=\"vertical\">"
                  "<lineedit name=\"Plain\" property=\"PLAIN\"/>"
                  "<lineedit name=\"DebugField\" property=\"DEBUG\" showflag=\"debug\"/>"
                  "<lineedit name=\"XField\" property=\"X\" showflag=\"x\"/>"
                  "<lineedit name=\"Other\" property=\"OTHER\" showflag=\"other\"/></page>"
                  "<page name=\"P2\" title=\"Debug page\" showflag=\"debug\"/></pageholder>"
                  "</AdminConfig>");
    {
        const CCommandLine line({"-Debug", "/X", definition});
        CModalAnswerer answerer;
        CAdminPage window(line.file(), line.options());
        EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
        EXPECT_EQ(1, window.findChildObjects("Plain").size());
        EXPECT_EQ(1, window.findChildObjects("DebugField").size());
        EXPECT_EQ(1, window.findChildObjects("XField").size());
        EXPECT_TRUE(window.findChildObjects("Other").isEmpty());
        EXPECT_EQ(QStringList({"Welcome", "One", "Debug page"}), rowTexts(&window));
    }
    {
        CModalAnswerer answerer;
        CAdminPage window(definition, QStringList());
        EXPECT_EQ(1, window.findChildObjects("Plain").size());
        EXPECT_TRUE(window.findChildObjects("DebugField").isEmpty());
        EXPECT_EQ(QStringList({"Welcome", "One"}), rowTexts(&window));
    }
}

TEST_F(StartupTest, AboutShowsVersionAndLegalTexts)
{
    CAboutDialog dialog;
    EXPECT_EQ(QStringLiteral(TESSARY_TEST_VERSION), CAboutDialog::versionText());
    ASSERT_EQ(4, dialog.tabs()->count());
    EXPECT_EQ(QStringLiteral("Licence"), dialog.tabs()->tabText(2));
    EXPECT_EQ(QStringLiteral("Legal"), dialog.tabs()->tabText(3));

    // Every library the program's tools link is named.
    QTextBrowser* const legal = qobject_cast<QTextBrowser*>(dialog.tabs()->widget(3));
    ASSERT_TRUE(legal);
    const QString text = legal->toPlainText();
    const QMap<QString, QString> named{
        {"libcrypto", "OpenSSL"}, {"libzstd", "zstd"},   {"libarchive", "libarchive"},
        {"libplist", "libplist"}, {"libz.", "zlib"},     {"liblzma", "liblzma"},
        {"libbz2", "bzip2"},      {"libxml2", "libxml2"}};
    std::string linked;
    TestSupport::runCommand("for tool in '" + TestSupport::toolsDirectory() +
                                "'/*; do ldd \"$tool\"; done 2>/dev/null",
                            &linked);
    ASSERT_FALSE(linked.empty());
    for (auto it = named.constBegin(); it != named.constEnd(); ++it)
    {
        const bool isLinked = QString::fromStdString(linked).contains(it.key());
        EXPECT_TRUE(!isLinked || text.contains(it.value())) << it.key().toStdString();
    }

    CAdminPage window{QString(), QStringList()};
    CModalAnswerer answerer;
    findAction(&window, "&About Tessary")->trigger();
    EXPECT_EQ(QStringList{"dialog: About Tessary"}, answerer.m_lSeen);
}
