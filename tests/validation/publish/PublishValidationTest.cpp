// A "validateurl" check on the main window's "validate" signal whose failure
// branch cancels publishing: publishing must stop there, before any dialog.

#include "app/AdminPage.h"
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

// Closes each results dialog once its checks are done and refuses every file
// dialog, noting what it saw.
class CPublishDriver
{
public:
    CPublishDriver()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(20);
    }

    int m_iResultDialogs = 0;
    QStringList m_lFileCaptions;
    QStringList m_lMessages;

private:
    void poll()
    {
        QWidget* const modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal))
        {
            m_lFileCaptions.append(dialog->windowTitle());
            dialog->reject();
        }
        else if (auto* box = qobject_cast<QMessageBox*>(modal))
        {
            m_lMessages.append(box->text());
            box->accept();
        }
        else if (modal && modal->objectName() == QLatin1String("ReviewDialog"))
        {
            // The review that opens every publish: gone through.
            static_cast<QDialog*>(modal)->accept();
        }
        else if (modal && modal->objectName() == QLatin1String("progressdialog"))
        {
            QPushButton* close = findButton(modal, "Close");
            if (close && close->isEnabled() && !modal->property("closing").toBool())
            {
                modal->setProperty("closing", true);
                ++m_iResultDialogs;
                QTimer::singleShot(0, close, &QPushButton::click);
            }
        }
    }

    QTimer m_timer;
};

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
    CPublishDriver driver;
    {
        CAdminPage window(bundleChecking("/notfound"), QStringList());
        auto* server = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
        ASSERT_TRUE(server) << "the sample definition has no ServerAddress field";
        server->setText("console.example.org");
        window.publish();
        EXPECT_EQ(driver.m_iResultDialogs, 1);
        EXPECT_TRUE(driver.m_lFileCaptions.isEmpty()) << "no save dialog after a failed check";
        EXPECT_TRUE(driver.m_lMessages.isEmpty()) << driver.m_lMessages.join("|").toStdString();
    }
    EXPECT_TRUE(QDir(testPath("in")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) ==
                QStringList{"Checked.pkg"})
        << "nothing was written";

    // The same definition with a check that passes goes on to ask for the output.
    CAdminPage window(bundleChecking("/ok"), QStringList());
    window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))->setText("console.example.org");
    window.publish();
    EXPECT_EQ(driver.m_iResultDialogs, 2);
    EXPECT_EQ(driver.m_lFileCaptions, QStringList{"Save file..."});
}
