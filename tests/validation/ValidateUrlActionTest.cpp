// The "validateurl" action: parsing, the results dialog, sequencing, cancel,
// retry with changed proxy settings, the proxy password prompt and the outcome.

#include "app/validation/ValidateUrlAction.h"
#include "LoopbackServers.h"
#include "app/validation/ProxyDialog.h"
#include "app/validation/ResultWidget.h"
#include "app/validation/WaitWithQtEvents.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/TestEnvironment.h"
#include "tests/xmlwidgets/FrameworkTestSupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVariant>
#include <gtest/gtest.h>

using namespace FrameworkTest;
using namespace ValidationTest;

namespace
{

// Creates the action as the application's factory does.
class ValidationFactory : public CTestFactory
{
public:
    CActionItem* createCustomAction(const QString& name, CXmlObject* owner, QString& error) override
    {
        if (name == QLatin1String("validateurl"))
            return new CValidateUrlAction(owner);
        return CTestFactory::createCustomAction(name, owner, error);
    }
};

// What one row of the results dialog shows.
struct Row
{
    QString caption;
    QString details; // plain text
    bool busy = true;
    QImage mark;
};

struct Results
{
    QString title;
    QList<Row> rows;
    QStringList enabledButtons;
};

Results readResults(QDialog* dialog)
{
    Results results;
    results.title = dialog->windowTitle();
    auto* panel = dialog->findChild<QFrame*>("resultspanel");
    auto* grid = panel ? qobject_cast<QGridLayout*>(panel->layout()) : nullptr;
    for (int row = 1; grid && row < grid->rowCount(); ++row)
    {
        Row entry;
        auto* mark = qobject_cast<ResultWidget*>(grid->itemAtPosition(row, 1)->widget());
        entry.caption = qobject_cast<QLabel*>(grid->itemAtPosition(row, 2)->widget())->text();
        entry.details =
            plainText(qobject_cast<QLabel*>(grid->itemAtPosition(row, 3)->widget())->text());
        entry.busy = mark->isBusy();
        entry.mark = mark->iconLabel()->pixmap(Qt::ReturnByValue).toImage();
        results.rows.append(entry);
    }
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
    {
        if (button->isEnabled())
            results.enabledButtons.append(button->text());
    }
    results.enabledButtons.sort();
    return results;
}

QDialog* resultsDialog(QWidget* modal)
{
    return modal && modal->objectName() == QLatin1String("progressdialog")
               ? qobject_cast<QDialog*>(modal)
               : nullptr;
}

// Calls inspect once with the next new results dialog whose checks are all done.
void whenResultsReady(TestSupport::CModalAnswerer& answerer, std::function<void(QDialog*)> inspect)
{
    answerer.once(
        [inspect](QWidget* modal)
        {
            QDialog* dialog = resultsDialog(modal);
            QPushButton* close = dialog ? findButton(dialog, "Close") : nullptr;
            if (!close || !close->isEnabled() || dialog->property("inspected").toBool())
                return false;
            dialog->setProperty("inspected", true);
            inspect(dialog);
            return true;
        });
}

// Clicks a button from the event loop, so that dialogs it opens do not run
// inside the caller.
void clickLater(QDialog* dialog, const QString& text)
{
    QPushButton* button = findButton(dialog, text);
    ASSERT_TRUE(button) << text.toStdString();
    QTimer::singleShot(0, button, &QPushButton::click);
}

// Answers the next proxy dialog by typing into it.
void answerProxyDialog(TestSupport::CModalAnswerer& answerer,
                       std::function<void(QtDownloader::ProxyDialog*)> fill, bool accept = true)
{
    answerer.once(
        [fill, accept](QWidget* modal)
        {
            auto* dialog = qobject_cast<QtDownloader::ProxyDialog*>(modal);
            if (!dialog)
                return false;
            fill(dialog);
            if (accept)
                dialog->accept();
            else
                dialog->reject();
            return true;
        });
}

const QImage& checkMark()
{
    static const QImage image = QPixmap(":checkmark24").toImage();
    return image;
}

const QImage& crossMark()
{
    static const QImage image = QPixmap(":xmark24").toImage();
    return image;
}

class ValidateUrlActionTest : public FrameworkFixture
{
protected:
    void SetUp() override
    {
        FrameworkFixture::SetUp();
        for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
                                 "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"})
            qunsetenv(name);
        m_pValidationFactory = std::make_unique<ValidationFactory>();
        CXmlContainer::m_pStaticWidgetFactory = m_pValidationFactory.get();
        ASSERT_TRUE(m_Server.isRunning()) << "the loopback web server did not start";
    }

    void TearDown() override
    {
        m_pDefinition.reset();
        m_pValidationFactory.reset();
        FrameworkFixture::TearDown();
    }

    // Loads a definition with one action named "check" holding the given urls
    // (and nested actions), and a field "flag" the nested actions can set.
    CValidateUrlAction* load(const QString& urls, const QString& extra = QString())
    {
        m_pDefinition = FrameworkTest::load(
            wrap("<testfield name=\"flag\"/>"
                 "<validateurl name=\"check\" signal=\"validate\" slot=\"validate\" "
                 "title=\"Checking servers\" topmessage=\"Top &lt;b&gt;text&lt;/b&gt;\" "
                 "bottommessage=\"Bottom\" " +
                 extra + ">" + urls + "</validateurl>"));
        EXPECT_TRUE(m_pDefinition->ok()) << m_pDefinition->error.toStdString();
        return m_pDefinition->find<CValidateUrlAction>("check");
    }

    QString url(const QString& path, const QString& name = QString(),
                const QString& status = QString(), const QString& content = QString()) const
    {
        QString element = "<url u=\"" + m_Server.url(path).toString() + "\"";
        if (!name.isEmpty())
            element += " name=\"" + name + "\"";
        if (!status.isEmpty())
            element += " statusValidation=\"" + status + "\"";
        if (!content.isEmpty())
            element += " contentValidation=\"" + content + "\"";
        return element + "/>";
    }

    // The value the nested actions left in "flag" once the outcome has been reported.
    QString outcome()
    {
        auto* flag = m_pDefinition->find<CTestField>("flag");
        QtPort::WaitWithQtEvents waiter([flag] { return flag->getValue().isEmpty(); });
        waiter.Wait(10000);
        return flag->getValue();
    }

    // Answers nothing by itself: each test says what to do with its dialogs.
    TestSupport::CModalAnswerer m_Modal{TestSupport::CModalAnswerer::HandlersOnly};
    WebServer m_Server;
    std::unique_ptr<ValidationFactory> m_pValidationFactory;
    std::unique_ptr<Definition> m_pDefinition;
};

const char* const Branches = "<action signal=\"success\" slot=\"setvalue\" widget=\"flag\" "
                             "value=\"passed\"/>"
                             "<action signal=\"failure\" slot=\"setvalue\" widget=\"flag\" "
                             "value=\"failed\"/>";

} // namespace

TEST_F(ValidateUrlActionTest, ParsesAttributesAndUrls)
{
    CValidateUrlAction* action = load("<url name=\"Service\" u=\"http://127.0.0.1/a\" "
                                      "statusValidation=\"2xx\" contentValidation=\"wsdl\"/>"
                                      "<other/><url u=\"http://127.0.0.1/%OS%\"/>");
    ASSERT_TRUE(action);
    EXPECT_EQ(action->signalName(), "validate");
    EXPECT_EQ(action->slotName(), "validate");
    EXPECT_EQ(action->title(), "Checking servers");
    EXPECT_EQ(action->topMessage(), "Top <b>text</b>");
    EXPECT_EQ(action->bottomMessage(), "Bottom");
    ASSERT_EQ(action->webResources().size(), 2);
    const WebResource& first = action->webResources().at(0);
    EXPECT_EQ(first.name, "Service");
    EXPECT_EQ(first.url, "http://127.0.0.1/a");
    EXPECT_EQ(first.statusValidation, "2xx");
    EXPECT_EQ(first.contentValidation, "wsdl");
    EXPECT_FALSE(action->webResources().at(1).url.contains("%OS%")) << "urls are converted";
    EXPECT_FALSE(action->performAction("Validate", nullptr)) << "slot names are exact";
    EXPECT_FALSE(action->performAction("cmd", nullptr));

    auto missingSignal = FrameworkTest::load(wrap("<validateurl slot=\"validate\"/>"));
    EXPECT_EQ(missingSignal->parseResult, 1);
    EXPECT_EQ(missingSignal->error, "Missing signal attribute in action");
    auto missingSlot = FrameworkTest::load(wrap("<validateurl signal=\"clicked\"/>"));
    EXPECT_EQ(missingSlot->parseResult, 1);
    EXPECT_EQ(missingSlot->error, "Missing slot attribute in action: clicked");
    auto badNested = FrameworkTest::load(
        wrap("<validateurl signal=\"s\" slot=\"validate\"><action signal=\"later\" "
             "slot=\"setvalue\" widget=\"x\"/></validateurl>"));
    EXPECT_EQ(badNested->parseResult, 1) << "a nested action with an unknown signal is refused";
}

TEST_F(ValidateUrlActionTest, ResultsDialogShowsEveryRow)
{
    CValidateUrlAction* action =
        load(url("/ok", "Web &amp; Service", "2xx") + url("/notfound", QString(), "2xx") +
             url("/malformed", "Feed", QString(), "xml") + url("/ok", QString(), "2xx,404"));
    ASSERT_TRUE(action);
    Results results;
    whenResultsReady(m_Modal,
                     [&results](QDialog* dialog)
                     {
                         results = readResults(dialog);
                         clickLater(dialog, "Close");
                     });
    EXPECT_TRUE(action->performAction("validate", nullptr));

    EXPECT_EQ(results.title, "Checking servers");
    EXPECT_EQ(results.enabledButtons, (QStringList{"Close", "Proxy Settings", "Retry"}));
    ASSERT_EQ(results.rows.size(), 4);
    const QString okUrl = m_Server.url("/ok").toString();
    EXPECT_EQ(results.rows[0].caption, "Name:\nURL:\nResult:");
    EXPECT_EQ(results.rows[0].details, "Web & Service\n" + okUrl + "\nSucceeded");
    EXPECT_EQ(results.rows[1].caption, "URL:\nResult:");
    EXPECT_EQ(results.rows[1].details,
              m_Server.url("/notfound").toString() +
                  "\nFailed. Details: Received unexpected HTTP status code: 404");
    EXPECT_TRUE(results.rows[2].details.contains("Failed. Details: Document is not well-formed "
                                                 "XML: "));
    // The group token next to a code is just a code that can never match.
    EXPECT_TRUE(results.rows[3].details.endsWith(
        "Failed. Details: Received unexpected HTTP status code: 200"));
    for (const Row& row : results.rows)
        EXPECT_FALSE(row.busy);
    ASSERT_FALSE(checkMark().isNull());
    EXPECT_EQ(results.rows[0].mark, checkMark());
    EXPECT_EQ(results.rows[1].mark, crossMark());
    EXPECT_NE(checkMark(), crossMark());
    // One at a time, in document order.
    EXPECT_EQ(m_Server.requests(), (QStringList{"/ok", "/notfound", "/malformed", "/ok"}));
}

TEST_F(ValidateUrlActionTest, OutcomeRunsTheNestedBranches)
{
    CValidateUrlAction* action =
        load(url("/ok", "A", "2xx") + url("/wsdl", "B", QString(), "wsdl") + Branches);
    ASSERT_TRUE(action);
    whenResultsReady(m_Modal, [](QDialog* dialog) { clickLater(dialog, "Close"); });
    action->doAction();
    EXPECT_EQ(outcome(), "passed");
    EXPECT_TRUE(action->lastResult());

    CValidateUrlAction* failing =
        load(url("/ok", "A", "2xx") + url("/xml", "B", QString(), "wsdl") + Branches);
    ASSERT_TRUE(failing);
    whenResultsReady(m_Modal, [](QDialog* dialog) { clickLater(dialog, "Close"); });
    failing->doAction();
    EXPECT_EQ(outcome(), "failed");
    EXPECT_FALSE(failing->lastResult());
}

TEST_F(ValidateUrlActionTest, CancelStopsTheRunningAndTheLaterChecks)
{
    CValidateUrlAction* action = load(url("/slow", "Slow") + url("/ok", "Quick", "2xx") + Branches);
    ASSERT_TRUE(action);
    QStringList initialButtons;
    // Cancel once the slow request has reached the server.
    m_Modal.once(
        [this, &initialButtons](QWidget* modal)
        {
            QDialog* dialog = resultsDialog(modal);
            if (!dialog || !m_Server.requests().contains("/slow"))
                return false;
            initialButtons = readResults(dialog).enabledButtons;
            clickLater(dialog, "Cancel");
            return true;
        });
    Results results;
    whenResultsReady(m_Modal,
                     [&results](QDialog* dialog)
                     {
                         results = readResults(dialog);
                         clickLater(dialog, "Close");
                     });
    action->doAction();
    EXPECT_EQ(initialButtons, QStringList{"Cancel"});
    ASSERT_EQ(results.rows.size(), 2);
    EXPECT_TRUE(results.rows[0].details.endsWith("Failed. Details: Operation canceled"));
    EXPECT_TRUE(results.rows[1].details.endsWith("Failed. Details: Operation canceled"));
    EXPECT_EQ(results.enabledButtons, (QStringList{"Close", "Proxy Settings", "Retry"}));
    EXPECT_EQ(m_Server.requests(), QStringList{"/slow"}) << "the later check sent nothing";
    EXPECT_EQ(outcome(), "failed");
}

TEST_F(ValidateUrlActionTest, EscapeDuringChecksCancelsThem)
{
    CValidateUrlAction* action = load(url("/slow") + url("/ok") + Branches);
    ASSERT_TRUE(action);
    m_Modal.once(
        [this](QWidget* modal)
        {
            QDialog* dialog = resultsDialog(modal);
            if (!dialog || !m_Server.requests().contains("/slow"))
                return false;
            QTimer::singleShot(0, dialog, &QDialog::reject);
            return true;
        });
    action->doAction();
    EXPECT_EQ(outcome(), "failed");
    EXPECT_EQ(m_Server.requests(), QStringList{"/slow"});
}

TEST_F(ValidateUrlActionTest, NothingToCheck)
{
    CValidateUrlAction* action = load(Branches);
    ASSERT_TRUE(action);
    Results results;
    m_Modal.once(
        [&results](QWidget* modal)
        {
            QDialog* dialog = resultsDialog(modal);
            if (!dialog)
                return false;
            results = readResults(dialog);
            QTimer::singleShot(0, dialog, &QDialog::reject);
            return true;
        });
    action->doAction();
    EXPECT_TRUE(results.rows.isEmpty());
    EXPECT_EQ(results.enabledButtons, QStringList{"Cancel"});
    EXPECT_EQ(outcome(), "passed");
}

TEST_F(ValidateUrlActionTest, RetryUsesTheProxyChosenMeanwhile)
{
    ProxyServer proxy;
    ASSERT_TRUE(proxy.isRunning()) << "tinyproxy did not start";
    CValidateUrlAction* action = load(url("/ok", "A", "2xx") + url("/xml", "B", "2xx", "xml"));
    ASSERT_TRUE(action);

    Results first, second, third;
    QtDownloader::ProxyHandler::eProxyType preselected = QtDownloader::ProxyHandler::None;
    QString prefilledHost;
    // Run 1, direct; then type a proxy with its credentials and retry.
    whenResultsReady(m_Modal,
                     [&](QDialog* dialog)
                     {
                         first = readResults(dialog);
                         answerProxyDialog(m_Modal,
                                           [&, dialog](QtDownloader::ProxyDialog* settings)
                                           {
                                               preselected = settings->GetSelectedProxy();
                                               settings->SetSelectedProxy(
                                                   QtDownloader::ProxyHandler::Preferences);
                                               settings->SetProxyHost("127.0.0.1");
                                               settings->SetProxyPort(proxy.port());
                                               settings->SetUsername("user");
                                               settings->SetPassword("pass");
                                               clickLater(dialog, "Retry");
                                           });
                         clickLater(dialog, "Proxy Settings");
                         // Run 2, through the proxy; then choose "No proxy" and retry.
                         whenResultsReady(m_Modal,
                                          [&](QDialog* dialog2)
                                          {
                                              second = readResults(dialog2);
                                              answerProxyDialog(
                                                  m_Modal,
                                                  [&, dialog2](QtDownloader::ProxyDialog* settings)
                                                  {
                                                      preselected = settings->GetSelectedProxy();
                                                      prefilledHost = settings->GetProxyHost();
                                                      settings->SetSelectedProxy(
                                                          QtDownloader::ProxyHandler::None);
                                                      clickLater(dialog2, "Retry");
                                                  });
                                              clickLater(dialog2, "Proxy Settings");
                                              whenResultsReady(m_Modal,
                                                               [&](QDialog* dialog3)
                                                               {
                                                                   third = readResults(dialog3);
                                                                   clickLater(dialog3, "Close");
                                                               });
                                          });
                     });
    // The system names a proxy that is not there; only "No proxy" gets past it.
    action->performAction("validate", nullptr);

    ASSERT_EQ(first.rows.size(), 2);
    ASSERT_EQ(second.rows.size(), 2);
    ASSERT_EQ(third.rows.size(), 2);
    for (const Results* run : {&first, &second, &third})
        for (const Row& row : run->rows)
            EXPECT_TRUE(row.details.endsWith("Succeeded")) << row.details.toStdString();
    EXPECT_EQ(preselected, QtDownloader::ProxyHandler::Preferences);
    EXPECT_EQ(prefilledHost, "127.0.0.1");
    EXPECT_EQ(m_Server.requests(),
              (QStringList{"/ok", "/xml", "/ok (proxy)", "/xml (proxy)", "/ok", "/xml"}));
    EXPECT_TRUE(action->directConnection());
    EXPECT_TRUE(action->proxyHost().isEmpty());
}

TEST_F(ValidateUrlActionTest, SystemSettingsChoiceForgetsTheProxy)
{
    CValidateUrlAction* action = load(url("/ok"));
    ASSERT_TRUE(action);
    QtDownloader::ProxyHandler::eProxyType preselected = QtDownloader::ProxyHandler::None;
    whenResultsReady(
        m_Modal,
        [&](QDialog* dialog)
        {
            answerProxyDialog(
                m_Modal,
                [&, dialog](QtDownloader::ProxyDialog* settings)
                {
                    preselected = settings->GetSelectedProxy();
                    settings->SetSelectedProxy(QtDownloader::ProxyHandler::Preferences);
                    settings->SetProxyHost("127.0.0.1");
                    settings->SetProxyPort(3128);
                    settings->SetUsername("user");
                    QTimer::singleShot(
                        0, dialog,
                        [this, dialog]
                        {
                            // Then reopen and go back to the system's settings.
                            answerProxyDialog(
                                m_Modal, [](QtDownloader::ProxyDialog* again)
                                { again->SetSelectedProxy(QtDownloader::ProxyHandler::System); });
                            clickLater(dialog, "Proxy Settings");
                            QTimer::singleShot(0, dialog,
                                               [dialog] { clickLater(dialog, "Close"); });
                        });
                });
            clickLater(dialog, "Proxy Settings");
        });
    action->performAction("validate", nullptr);
    EXPECT_EQ(preselected, QtDownloader::ProxyHandler::System);
    EXPECT_TRUE(action->proxyHost().isEmpty());
    EXPECT_EQ(action->proxyPort(), 0);
    EXPECT_TRUE(action->proxyUser().isEmpty());
    EXPECT_FALSE(action->directConnection());
}

TEST_F(ValidateUrlActionTest, ProxyPasswordPrompt)
{
    ProxyServer proxy;
    ASSERT_TRUE(proxy.isRunning()) << "tinyproxy did not start";
    qputenv("http_proxy", QString("http://127.0.0.1:%1").arg(proxy.port()).toUtf8());
    CValidateUrlAction* action =
        load(url("/ok", "A", "2xx") + url("/wsdl", "B", "2xx", "wsdl") + url("/xml"));
    ASSERT_TRUE(action);
    int prompts = 0;
    QString realm;
    // Only the first check asks; the others get the typed credentials.
    std::function<void()> answer = [&]
    {
        answerProxyDialog(m_Modal,
                          [&](QtDownloader::ProxyDialog* prompt)
                          {
                              ++prompts;
                              realm = prompt->findChild<QLabel*>("realmlabel")->text();
                              prompt->SetUsername("user");
                              prompt->SetPassword("pass");
                              answer();
                          });
    };
    answer();
    Results results;
    whenResultsReady(m_Modal,
                     [&results](QDialog* dialog)
                     {
                         results = readResults(dialog);
                         clickLater(dialog, "Close");
                     });
    action->performAction("validate", nullptr);
    EXPECT_EQ(prompts, 1);
    EXPECT_FALSE(realm.isEmpty());
    ASSERT_EQ(results.rows.size(), 3);
    for (const Row& row : results.rows)
        EXPECT_TRUE(row.details.endsWith("Succeeded")) << row.details.toStdString();
    EXPECT_EQ(action->proxyUser(), "user");
    EXPECT_EQ(m_Server.requests(), (QStringList{"/ok (proxy)", "/wsdl (proxy)", "/xml (proxy)"}));
}

TEST_F(ValidateUrlActionTest, RejectedPasswordPromptFailsTheChecksWithoutAskingAgain)
{
    ProxyServer proxy;
    ASSERT_TRUE(proxy.isRunning()) << "tinyproxy did not start";
    qputenv("http_proxy", QString("http://127.0.0.1:%1").arg(proxy.port()).toUtf8());
    CValidateUrlAction* action = load(url("/ok") + url("/xml") + url("/wsdl") + Branches);
    ASSERT_TRUE(action);
    int prompts = 0;
    std::function<void()> decline = [&]
    {
        answerProxyDialog(
            m_Modal,
            [&](QtDownloader::ProxyDialog*)
            {
                ++prompts;
                decline();
            },
            false);
    };
    decline();
    Results results;
    whenResultsReady(m_Modal,
                     [&results](QDialog* dialog)
                     {
                         results = readResults(dialog);
                         clickLater(dialog, "Close");
                     });
    action->doAction();
    EXPECT_EQ(prompts, 1) << "declining answers for the rest of the run";
    ASSERT_EQ(results.rows.size(), 3);
    for (const Row& row : results.rows)
    {
        EXPECT_TRUE(row.details.contains("Failed. Details: "));
        EXPECT_TRUE(row.details.contains("authentication", Qt::CaseInsensitive))
            << row.details.toStdString();
        EXPECT_EQ(row.mark, crossMark());
    }
    EXPECT_TRUE(m_Server.requests().isEmpty());
    EXPECT_EQ(outcome(), "failed");
}

TEST_F(ValidateUrlActionTest, SecondTriggerWhileOpenIsAbsorbed)
{
    CValidateUrlAction* action = load(url("/ok", "A", "2xx") + Branches);
    ASSERT_TRUE(action);
    QSignalSpy done(action, &CActionItem::actionDone);
    int dialogs = -1;
    whenResultsReady(m_Modal,
                     [action, &dialogs](QDialog* dialog)
                     {
                         EXPECT_TRUE(action->performAction("validate", nullptr));
                         dialogs = 0;
                         for (QWidget* widget : QApplication::topLevelWidgets())
                             dialogs += widget->objectName() == "progressdialog" ? 1 : 0;
                         clickLater(dialog, "Close");
                     });
    action->doAction();
    EXPECT_EQ(outcome(), "passed");
    QtPort::WaitWithQtEvents settle([] { return true; });
    settle.Wait(200);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(done.count(), 1);
    EXPECT_EQ(m_Server.requests(), QStringList{"/ok"});
}

TEST_F(ValidateUrlActionTest, DiscardingThePageTreeDuringAFetch)
{
    CValidateUrlAction* action = load(url("/slow") + url("/ok"));
    ASSERT_TRUE(action);
    m_Modal.once(
        [this](QWidget* modal)
        {
            if (!resultsDialog(modal) || !m_Server.requests().contains("/slow"))
                return false;
            QTimer::singleShot(0, [this] { m_pDefinition->root.reset(); });
            return true;
        });
    action->doAction();
    QtPort::WaitWithQtEvents settle([] { return true; });
    settle.Wait(300);
    EXPECT_FALSE(QApplication::activeModalWidget());
    EXPECT_EQ(m_Server.requests(), QStringList{"/slow"}) << "nothing ran after the tree went";
}

namespace
{

// Receives the addresses the desktop would open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    UrlCatcher()
    {
        QDesktopServices::setUrlHandler("http", this, "open");
        QDesktopServices::setUrlHandler("https", this, "open");
    }
    ~UrlCatcher() override
    {
        QDesktopServices::unsetUrlHandler("http");
        QDesktopServices::unsetUrlHandler("https");
    }

    QStringList m_lOpened;

public slots:
    void open(const QUrl& url) { m_lOpened.append(url.toString()); }
};

QStringList g_lLog;

void catchLog(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_lLog.append(message);
}

} // namespace

TEST_F(ValidateUrlActionTest, EveryRowShowsItsWholeReason)
{
    // The longest reason last: the row that reports last used to be cut off.
    CValidateUrlAction* action =
        load(url("/ok", "A", "2xx") + url("/notfound", "B", "2xx") +
             url("/servererror", "A service whose name takes some room", "2xx"));
    ASSERT_TRUE(action);
    QStringList shortRows;
    QStringList details;
    whenResultsReady(
        m_Modal,
        [&](QDialog* dialog)
        {
            // Let the dialog take its final size, as the user sees it.
            QApplication::processEvents();
            auto* grid =
                qobject_cast<QGridLayout*>(dialog->findChild<QFrame*>("resultspanel")->layout());
            for (int row = 1; row < grid->rowCount(); ++row)
            {
                auto* label = qobject_cast<QLabel*>(grid->itemAtPosition(row, 3)->widget());
                details.append(plainText(label->text()));
                const QRect visible =
                    label->geometry().intersected(label->parentWidget()->contentsRect());
                if (visible.height() < label->heightForWidth(label->width()) ||
                    label->mapTo(dialog, QPoint(0, label->height())).y() > dialog->height())
                    shortRows.append(QString::number(row));
            }
            clickLater(dialog, "Close");
        });
    action->doAction();
    ASSERT_EQ(details.size(), 3);
    EXPECT_TRUE(details[2].contains("Internal Server Error")) << details[2].toStdString();
    EXPECT_TRUE(shortRows.isEmpty()) << "rows cut off: " << shortRows.join(",").toStdString();
}

TEST_F(ValidateUrlActionTest, LinksOpenTheAddressAsWritten)
{
    const QString address = m_Server.url("/ok").toString() + "?a=1&b='two'";
    CValidateUrlAction* action =
        load("<url u=\"" + address.toHtmlEscaped() + "\"/>" + "<url name=\"Named\" u=\"" +
             address.toHtmlEscaped() + "\"/>");
    ASSERT_TRUE(action);
    UrlCatcher catcher;
    whenResultsReady(m_Modal,
                     [&](QDialog* dialog)
                     {
                         auto* grid = qobject_cast<QGridLayout*>(
                             dialog->findChild<QFrame*>("resultspanel")->layout());
                         for (int row = 1; row <= 2; ++row)
                         {
                             auto* label =
                                 qobject_cast<QLabel*>(grid->itemAtPosition(row, 3)->widget());
                             // The address is the first line, or the second under a name.
                             const int line = label->fontMetrics().lineSpacing();
                             const QPoint link(8, row == 1 ? line / 2 : line + line / 2);
                             QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, link);
                         }
                         clickLater(dialog, "Close");
                     });
    action->doAction();
    EXPECT_EQ(catcher.m_lOpened, (QStringList{QUrl(address).toString(), QUrl(address).toString()}));
}

TEST_F(ValidateUrlActionTest, APasswordInTheAddressIsNeitherShownNorLogged)
{
    QUrl address = m_Server.url("/notfound");
    address.setUserName("admin");
    address.setPassword("s3cr3tPa55");
    CValidateUrlAction* action = load("<url u=\"" + address.toString() +
                                      "\" name=\"Secret\" "
                                      "statusValidation=\"2xx\"/>"
                                      "<url u=\"" +
                                      address.toString() + "\"/>");
    ASSERT_TRUE(action);
    QStringList shown;
    whenResultsReady(m_Modal,
                     [&shown](QDialog* dialog)
                     {
                         for (QLabel* label : dialog->findChildren<QLabel*>())
                             shown.append(label->text());
                         clickLater(dialog, "Close");
                     });
    g_lLog.clear();
    const QtMessageHandler previous = qInstallMessageHandler(catchLog);
    action->doAction();
    qInstallMessageHandler(previous);
    ASSERT_FALSE(g_lLog.isEmpty());
    EXPECT_FALSE(g_lLog.join("\n").contains("s3cr3tPa55")) << g_lLog.join("\n").toStdString();
    EXPECT_FALSE(shown.join("\n").contains("s3cr3tPa55")) << shown.join("\n").toStdString();
    EXPECT_TRUE(shown.join("\n").contains("admin:****@127.0.0.1"));
    EXPECT_EQ(m_Server.requests(), (QStringList{"/notfound", "/notfound"}))
        << "the password still goes to the server";
}

TEST_F(ValidateUrlActionTest, AFailingProxyIsNamedAsTheProxy)
{
    const quint16 port = freePort();
    qputenv("http_proxy", QString("http://127.0.0.1:%1").arg(port).toUtf8());
    CValidateUrlAction* action = load(url("/ok"));
    ASSERT_TRUE(action);
    Results results;
    whenResultsReady(m_Modal,
                     [&results](QDialog* dialog)
                     {
                         results = readResults(dialog);
                         clickLater(dialog, "Close");
                     });
    action->doAction();
    ASSERT_EQ(results.rows.size(), 1);
    EXPECT_TRUE(results.rows[0].details.contains(QString("proxy 127.0.0.1:%1").arg(port)))
        << results.rows[0].details.toStdString();
}

TEST_F(ValidateUrlActionTest, AnUntrustedIssuerIsShownWithItsName)
{
    QString certificate, key;
    ASSERT_TRUE(makeCertificate(QString::fromStdString(TestSupport::testDirectory()) + "/ca",
                                Certificate::PrivateCa, certificate, key));
    WebServer server(certificate, key);
    ASSERT_TRUE(server.isRunning());
    CValidateUrlAction* action = load("<url u=\"" + server.url("/ok").toString() + "\"/>");
    ASSERT_TRUE(action);
    Results results;
    whenResultsReady(m_Modal,
                     [&results](QDialog* dialog)
                     {
                         results = readResults(dialog);
                         clickLater(dialog, "Close");
                     });
    action->doAction();
    ASSERT_EQ(results.rows.size(), 1);
    EXPECT_TRUE(results.rows[0].details.endsWith(
        "Succeeded\nThe server's certificate is not trusted by this computer (issued by "
        "\"Tessary Test CA\")."))
        << results.rows[0].details.toStdString();
}

#include "ValidateUrlActionTest.moc"
