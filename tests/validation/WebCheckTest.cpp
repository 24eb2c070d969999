// Fetching and judging web resources against a real server on loopback.

#include "LoopbackServers.h"
#include "app/validation/StatusCodeValidator.h"
#include "app/validation/ValidateWebResource.h"
#include "app/validation/WaitWithQtEvents.h"
#include "app/validation/WsdlValidator.h"
#include "app/validation/XmlWellFormedValidator.h"
#include "tests/support/TestEnvironment.h"

#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace ValidationTest;

namespace
{

struct Outcome
{
    int succeeded = 0;
    int failed = 0;
    QString reason;
    bool done() const { return succeeded + failed > 0; }
};

// Runs the check from the event loop, as the action does, and waits for its report.
Outcome runCheck(ValidateWebResource& check)
{
    Outcome outcome;
    QObject::connect(&check, &ValidateWebResource::validationSucceeded,
                     [&outcome] { ++outcome.succeeded; });
    QObject::connect(&check, &ValidateWebResource::validationFailed,
                     [&outcome](const QString& reason)
                     {
                         ++outcome.failed;
                         outcome.reason = reason;
                     });
    QTimer::singleShot(0, &check, &ValidateWebResource::run);
    QtPort::WaitWithQtEvents waiter([&outcome] { return !outcome.done(); });
    EXPECT_TRUE(waiter.Wait(60000));
    // Exactly one report per run.
    QtPort::WaitWithQtEvents settle([] { return true; });
    settle.Wait(50);
    EXPECT_EQ(outcome.succeeded + outcome.failed, 1);
    return outcome;
}

// A value in kB from /proc/self/status ("VmHWM", "VmRSS").
long statusKb(const char* field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    return -1;
}

// How far the peak resident size grows above the current one while work runs.
long peakGrowthKb(const std::function<void()>& work)
{
    const long before = statusKb("VmRSS");
    // Starts the peak anew from the current size (Linux 4.0 and later).
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    work();
    return statusKb("VmHWM") - before;
}

std::shared_ptr<StatusCodeValidator> expecting(std::initializer_list<int> codes)
{
    auto validator = std::make_shared<StatusCodeValidator>(StatusCodeValidator::NoGroup);
    for (int code : codes)
        validator->addExpectedCode(code);
    return validator;
}

class WebCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The system proxy must not send the checks anywhere but to loopback.
        for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
                                 "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"})
            qunsetenv(name);
        ASSERT_TRUE(m_Server.isRunning()) << "the loopback web server did not start";
    }

    WebServer m_Server;
};

} // namespace

TEST_F(WebCheckTest, StatusGroupAndExpectedCodes)
{
    {
        ValidateWebResource check(m_Server.url("/ok"));
        check.addValidator(std::make_shared<StatusCodeValidator>(StatusCodeValidator::Group2xx));
        EXPECT_EQ(runCheck(check).succeeded, 1);
    }
    {
        ValidateWebResource check(m_Server.url("/notfound"));
        check.addValidator(std::make_shared<StatusCodeValidator>(StatusCodeValidator::Group2xx));
        EXPECT_EQ(runCheck(check).reason, "Received unexpected HTTP status code: 404");
    }
    {
        ValidateWebResource check(m_Server.url("/notfound"));
        check.addValidator(expecting({200, 404}));
        EXPECT_EQ(runCheck(check).succeeded, 1);
    }
    {
        // Listing a code switches the group off: 200 is no longer enough.
        ValidateWebResource check(m_Server.url("/ok"));
        check.addValidator(expecting({0, 404}));
        EXPECT_EQ(runCheck(check).reason, "Received unexpected HTTP status code: 200");
    }
    {
        ValidateWebResource check(m_Server.url("/forbidden"));
        check.addValidator(expecting({401}));
        EXPECT_EQ(runCheck(check).reason, "Received unexpected HTTP status code: 403");
    }
}

TEST_F(WebCheckTest, AnyAnswerPassesWithoutValidators)
{
    for (const char* path : {"/ok", "/unauthorized", "/forbidden", "/notfound"})
    {
        ValidateWebResource check(m_Server.url(path));
        EXPECT_EQ(runCheck(check).succeeded, 1) << path;
    }
}

TEST_F(WebCheckTest, OtherHttpErrorsEndWithTheNetworkMessage)
{
    // A 500 is not one of the answers the validators judge.
    ValidateWebResource check(m_Server.url("/servererror"));
    check.addValidator(expecting({500}));
    const Outcome outcome = runCheck(check);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_FALSE(outcome.reason.isEmpty());
    EXPECT_FALSE(outcome.reason.startsWith("Received unexpected")) << outcome.reason.toStdString();
}

TEST_F(WebCheckTest, XmlAndWsdlContent)
{
    const auto run = [this](const char* path, std::shared_ptr<IValidator> validator)
    {
        ValidateWebResource check(m_Server.url(path));
        check.addValidator(std::make_shared<StatusCodeValidator>(StatusCodeValidator::Group2xx));
        check.addValidator(validator);
        return runCheck(check);
    };
    auto xml = std::make_shared<XmlWellFormedValidator>();
    EXPECT_EQ(run("/xml", xml).succeeded, 1);
    EXPECT_EQ(xml->document()->documentElement().nodeName(), "root");

    const Outcome malformed = run("/malformed", xml);
    EXPECT_TRUE(malformed.reason.startsWith("Document is not well-formed XML: "))
        << malformed.reason.toStdString();
    EXPECT_GT(malformed.reason.size(), QString("Document is not well-formed XML: ").size());
    EXPECT_TRUE(xml->document()->documentElement().isNull()) << "a failed parse keeps no document";

    EXPECT_TRUE(run("/empty", std::make_shared<XmlWellFormedValidator>())
                    .reason.startsWith("Document is not well-formed XML: "));
    EXPECT_EQ(run("/emptyelement", std::make_shared<XmlWellFormedValidator>()).succeeded, 1);

    EXPECT_EQ(run("/wsdl", std::make_shared<WsdlValidator>()).succeeded, 1);
    EXPECT_EQ(run("/emptyelement", std::make_shared<WsdlValidator>()).reason,
              "Document is well-formed XML, but does not appear to be WSDL.");
    // The prefix is part of the check, as written by the service.
    EXPECT_EQ(run("/wsdlnoprefix", std::make_shared<WsdlValidator>()).reason,
              "Document is well-formed XML, but does not appear to be WSDL.");
    EXPECT_TRUE(run("/malformed", std::make_shared<WsdlValidator>())
                    .reason.startsWith("Document is not well-formed XML: "));
}

TEST_F(WebCheckTest, ValidatorsRunInOrderAndTheFirstFailureStands)
{
    ValidateWebResource check(m_Server.url("/notfound"));
    check.addValidator(std::make_shared<WsdlValidator>());
    check.addValidator(std::make_shared<StatusCodeValidator>(StatusCodeValidator::Group2xx));
    EXPECT_TRUE(runCheck(check).reason.startsWith("Document is not well-formed XML: "));
}

TEST_F(WebCheckTest, HostileBodiesFailWithAReasonInBoundedMemory)
{
    const struct
    {
        const char* path;
        const char* reason;
    } cases[] = {
        {"/deep", "Document is not well-formed XML: elements are nested deeper than 1024 levels"},
        {"/entities", "Document is not well-formed XML: document type definitions are not "
                      "accepted"},
        {"/huge", "The response is larger than the limit of 4194304 bytes"},
        {"/endless", "The response is larger than the limit of 4194304 bytes"},
    };
    for (const auto& hostile : cases)
    {
        Outcome outcome;
        const long growthKb = peakGrowthKb(
            [&]
            {
                ValidateWebResource check(m_Server.url(hostile.path));
                check.addValidator(std::make_shared<WsdlValidator>());
                outcome = runCheck(check);
            });
        EXPECT_EQ(outcome.failed, 1) << hostile.path;
        EXPECT_TRUE(outcome.reason.startsWith(hostile.reason))
            << hostile.path << ": " << outcome.reason.toStdString();
        EXPECT_LT(growthKb, 100 * 1024) << hostile.path;
    }
    // An answer that drips without end is cut off by the limit of the whole fetch.
    ValidateWebResource check(m_Server.url("/trickle"), nullptr, 1500);
    EXPECT_EQ(runCheck(check).reason, "The connection to the remote server timed out");
}

TEST_F(WebCheckTest, NestingUpToTheLimitIsWellFormed)
{
    QByteArray body;
    for (int i = 0; i < XmlWellFormedValidator::MaxDepth; ++i)
        body += "<a x='1'>";
    for (int i = 0; i < XmlWellFormedValidator::MaxDepth; ++i)
        body += "</a>";
    XmlWellFormedValidator xml;
    QString error;
    EXPECT_TRUE(xml.validate(nullptr, body, error)) << error.toStdString();
    EXPECT_EQ(xml.document()->documentElement().attribute("x"), "1");
    EXPECT_FALSE(xml.validate(nullptr, "<a>" + body + "</a>", error));
    EXPECT_TRUE(error.contains("nested deeper than 1024 levels")) << error.toStdString();
    EXPECT_FALSE(xml.validate(nullptr, "<a>&undeclared;</a>", error));
}

TEST_F(WebCheckTest, UnresolvableHostFailsWithoutRunningValidators)
{
    ValidateWebResource check(QUrl("http://no-such-host.invalid/"));
    auto xml = std::make_shared<XmlWellFormedValidator>();
    check.addValidator(xml);
    const Outcome outcome = runCheck(check);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_TRUE(outcome.reason.contains("no-such-host.invalid")) << outcome.reason.toStdString();
}

TEST_F(WebCheckTest, RefusedConnectionFailsWithTheNetworkMessage)
{
    ValidateWebResource check(QUrl(QString("http://127.0.0.1:%1/").arg(freePort())));
    const Outcome outcome = runCheck(check);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_TRUE(outcome.reason.contains("refused", Qt::CaseInsensitive))
        << outcome.reason.toStdString();
}

TEST_F(WebCheckTest, SlowServerTimesOut)
{
    ValidateWebResource check(m_Server.url("/slow"), nullptr, 1000);
    EXPECT_EQ(runCheck(check).reason, "The connection to the remote server timed out");
    EXPECT_TRUE(check.timedOut());
}

TEST_F(WebCheckTest, CanceledBeforeStartSendsNoRequest)
{
    ValidateWebResource check(m_Server.url("/ok"));
    check.onCancel();
    EXPECT_EQ(runCheck(check).reason, "Operation canceled");
    // Prove the server would have logged a request by making one.
    ValidateWebResource probe(m_Server.url("/probe"));
    runCheck(probe);
    EXPECT_EQ(m_Server.requests(), QStringList{"/probe"});
}

TEST_F(WebCheckTest, CanceledDuringFetchEndsWithTheNetworkMessage)
{
    ValidateWebResource check(m_Server.url("/slow"));
    // Cancel once the request has reached the server.
    auto* poll = new QTimer(&check);
    QObject::connect(poll, &QTimer::timeout,
                     [this, &check, poll]
                     {
                         if (m_Server.requests().contains("/slow"))
                         {
                             poll->stop();
                             check.onCancel();
                         }
                     });
    poll->start(20);
    const Outcome outcome = runCheck(check);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_FALSE(check.timedOut());
    EXPECT_EQ(outcome.reason, "Operation canceled");
    EXPECT_TRUE(check.isCanceled());
}

TEST_F(WebCheckTest, TlsCertificates)
{
    const QString base = QString::fromStdString(TestSupport::testDirectory());
    const struct
    {
        const char* name;
        Certificate kind;
        const char* reason; // empty: the check passes
    } cases[] = {
        {"selfsigned", Certificate::SelfSigned, "The certificate is self-signed, and untrusted"},
        {"otherhost", Certificate::OtherHost,
         "The host name did not match any of the valid hosts for this certificate"},
        {"expired", Certificate::Expired, "The certificate has expired"},
        {"privateca", Certificate::PrivateCa, ""},
    };
    for (const auto& tls : cases)
    {
        QString certificate, key;
        ASSERT_TRUE(makeCertificate(base + "/" + tls.name, tls.kind, certificate, key)) << tls.name;
        WebServer server(certificate, key);
        ASSERT_TRUE(server.isRunning()) << tls.name;
        ValidateWebResource check(server.url("/wsdl"));
        check.addValidator(std::make_shared<WsdlValidator>());
        QStringList notices;
        QObject::connect(&check, &ValidateWebResource::validationNotice,
                         [&notices](const QString& notice) { notices.append(notice); });
        const Outcome outcome = runCheck(check);
        if (*tls.reason)
        {
            EXPECT_EQ(outcome.failed, 1) << tls.name;
            EXPECT_TRUE(outcome.reason.contains(tls.reason)) << outcome.reason.toStdString();
            EXPECT_TRUE(notices.isEmpty()) << tls.name;
        }
        else
        {
            // Only the issuer is unknown: the check passes, and says so.
            EXPECT_EQ(outcome.succeeded, 1) << outcome.reason.toStdString();
            EXPECT_EQ(notices, QStringList{"The server's certificate is not trusted by this "
                                           "computer (issued by \"Tessary Test CA\")."});
        }
    }
}

TEST_F(WebCheckTest, WaitEndsBySignalPredicateOrTimeout)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(10);
    QtPort::WaitWithQtEvents bySignal(&timer, SIGNAL(timeout()));
    EXPECT_TRUE(bySignal.Wait(0));

    int calls = 0;
    QTimer::singleShot(10, [&calls] { ++calls; });
    QtPort::WaitWithQtEvents byPredicate([&calls] { return calls == 0; });
    EXPECT_TRUE(byPredicate.Wait(10000));

    QTimer never;
    QtPort::WaitWithQtEvents timedOut(&never, SIGNAL(timeout()));
    EXPECT_FALSE(timedOut.Wait(100));

    QtPort::WaitWithQtEvents unknown(&never, SIGNAL(noSuchSignal()));
    EXPECT_FALSE(unknown.AddSignal(nullptr, SIGNAL(timeout())));
}
