// A "validateurl" check on the main window's "validate" signal whose failure
// branch cancels publishing: publishing must stop there, before any dialog.

#include "app/window/AdminPage.h"
#include "tests/app/AppTestSupport.h"
#include "tests/validation/LoopbackServers.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace AppTest;
using namespace ValidationTest;

namespace
{

class PublishValidationTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
                                 "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"})
            qunsetenv(name);
        ASSERT_TRUE(m_Server.isRunning()) << "the loopback web server did not start";
    }

    // The sample bundle installer with a check of path on "validate" whose failure
    // cancels publishing.
    QString bundleChecking(const QString& path)
    {
        const QString bundle = testPath("in/Checked.pkg");
        QDir(bundle).removeRecursively();
        QDir().mkpath(bundle);
        copyTree(sample("TessarySample-bundle.pkg"), bundle);
        QFile config(bundle + "/Contents/Resources/AdminConfig.xml");
        EXPECT_TRUE(config.open(QIODevice::ReadOnly));
        QByteArray text = config.readAll();
        config.close();
        const int root = text.indexOf("<AdminConfig ");
        const int rootEnd = text.indexOf('>', root) + 1;
        EXPECT_GT(root, 0);
        const QByteArray check =
            "<validateurl signal=\"validate\" slot=\"validate\" title=\"Servers\">"
            "<url u=\"" +
            m_Server.url(path).toString().toUtf8() +
            "\" statusValidation=\"2xx\"/>"
            "<action signal=\"failure\" slot=\"cancelpublish\" widget=\"SentinelAdmin\"/>"
            "</validateurl>";
        text.insert(rootEnd, check);
        EXPECT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(text);
        config.close();
        return bundle;
    }

    static void copyTree(const QString& from, const QString& to)
    {
        const QDir source(from);
        for (const QFileInfo& entry :
             source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        {
            const QString target = to + "/" + entry.fileName();
            if (entry.isDir())
            {
                QDir().mkpath(target);
                copyTree(entry.filePath(), target);
            }
            else
            {
                QFile::copy(entry.filePath(), target);
            }
        }
    }

    WebServer m_Server;
};

} // namespace

TEST_F(PublishValidationTest, AFailingCheckStopsThePublishBeforeAnyDialog)
{
    // Each results dialog is closed once its checks are done; every file dialog is
    // refused.
    CModalAnswerer driver;
    int resultDialogs = 0;
    driver.m_lHandlers << acceptReview
                       << [&resultDialogs](QDialog* dialog)
    {
        if (dialog->objectName() != QLatin1String("progressdialog"))
            return false;
        QPushButton* close = findButton(dialog, "Close");
        if (close && close->isEnabled() && !dialog->property("closing").toBool())
        {
            dialog->setProperty("closing", true);
            ++resultDialogs;
            QTimer::singleShot(0, close, &QPushButton::click);
        }
        return true;
    };
    {
        CAdminPage window(bundleChecking("/notfound"), QStringList());
        auto* server = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
        ASSERT_TRUE(server) << "the sample definition has no ServerAddress field";
        server->setText("console.example.org");
        window.publish();
        EXPECT_EQ(resultDialogs, 1);
        EXPECT_TRUE(driver.m_lFileCaptions.isEmpty()) << "no save dialog after a failed check";
        EXPECT_TRUE(driver.m_lTexts.isEmpty()) << driver.m_lTexts.join("|").toStdString();
    }
    EXPECT_TRUE(QDir(testPath("in")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) ==
                QStringList{"Checked.pkg"})
        << "nothing was written";

    // The same definition with a check that passes goes on to ask for the output.
    CAdminPage window(bundleChecking("/ok"), QStringList());
    window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))->setText("console.example.org");
    window.publish();
    EXPECT_EQ(resultDialogs, 2);
    EXPECT_EQ(driver.m_lFileCaptions, QStringList{"Save file..."});
}
