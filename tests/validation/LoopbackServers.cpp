#include "LoopbackServers.h"

#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QUuid>

namespace ValidationTest
{

namespace
{

QString testPath(const QString& name)
{
    return QDir(QString::fromStdString(TestSupport::testDirectory())).filePath(name);
}

// Python from the system, not a per-user shim: tests run with their own HOME.
QString python()
{
    return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                             : QStringLiteral("python3");
}

bool acceptsConnections(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(200);
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000))
    {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

WebServer::WebServer(const QString& certificate, const QString& key)
    : m_sLog(testPath(QStringLiteral("requests-%1.log")
                          .arg(QUuid::createUuid().toString(QUuid::WithoutBraces)))),
      m_bTls(!certificate.isEmpty())
{
    QStringList arguments{QString::fromStdString(TestSupport::sourceDirectory()) +
                              "/tests/validation/web_server.py",
                          QStringLiteral("--log"), m_sLog};
    if (m_bTls)
        arguments << QStringLiteral("--tls") << certificate << key;
    m_Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_Process.start(python(), arguments);
    if (!m_Process.waitForStarted(5000))
        return;
    QElapsedTimer clock;
    clock.start();
    while (!m_Process.canReadLine() && clock.elapsed() < 10000 &&
           m_Process.state() == QProcess::Running)
        m_Process.waitForReadyRead(200);
    m_nPort = quint16(m_Process.readLine().trimmed().toUInt());
}

WebServer::~WebServer()
{
    stop(m_Process);
}

QUrl WebServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_bTls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(m_nPort)
                    .arg(path));
}

QStringList WebServer::requests() const
{
    QFile log(m_sLog);
    if (!log.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

ProxyServer::ProxyServer()
{
    const quint16 port = freePort();
    const QString config = testPath(QStringLiteral("tinyproxy-%1.conf").arg(port));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                              "BasicAuth user pass\nAllow 127.0.0.1\n")
                   .arg(port)
                   .toUtf8());
    file.close();
    m_Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_Process.setStandardOutputFile(QProcess::nullDevice());
    m_Process.start(QStringLiteral("/usr/bin/tinyproxy"),
                    {QStringLiteral("-d"), QStringLiteral("-c"), config});
    if (!m_Process.waitForStarted(5000))
        return;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && m_Process.state() == QProcess::Running)
    {
        if (acceptsConnections(port))
        {
            m_nPort = port;
            return;
        }
        QThread::msleep(50);
    }
}

ProxyServer::~ProxyServer()
{
    stop(m_Process);
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool makeCertificate(const QString& directory, Certificate kind, QString& certificate, QString& key)
{
    const auto openssl = [&](const QStringList& arguments)
    {
        QProcess process;
        process.setWorkingDirectory(directory);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    };
    QDir().mkpath(directory);
    const QStringList ecKey{
        QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    const bool otherHost = kind == Certificate::OtherHost;
    const QString subject =
        otherHost ? QStringLiteral("/CN=other.example") : QStringLiteral("/CN=127.0.0.1");
    const QString altName = otherHost ? QStringLiteral("subjectAltName=DNS:other.example")
                                      : QStringLiteral("subjectAltName=IP:127.0.0.1");
    certificate = directory + "/server.pem";
    key = directory + "/server.key";
    if (kind == Certificate::SelfSigned)
        return openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey +
                       QStringList{"-keyout", key, "-out", certificate, "-days", "2", "-subj",
                                   subject, "-addext", altName});
    QFile extensions(directory + "/ext.cnf");
    if (!extensions.open(QIODevice::WriteOnly))
        return false;
    extensions.write(altName.toUtf8() + "\n");
    extensions.close();
    // -1 days: valid until yesterday.
    const QString days = kind == Certificate::Expired ? QStringLiteral("-1") : QStringLiteral("2");
    return openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey +
                   QStringList{"-keyout", directory + "/ca.key", "-out", directory + "/ca.pem",
                               "-days", "2", "-subj", "/CN=Tessary Test CA"}) &&
           openssl(
               QStringList{QStringLiteral("req")} + ecKey +
               QStringList{"-keyout", key, "-out", directory + "/server.csr", "-subj", subject}) &&
           openssl({"x509", "-req", "-in", directory + "/server.csr", "-CA", directory + "/ca.pem",
                    "-CAkey", directory + "/ca.key", "-CAcreateserial", "-out", certificate,
                    "-days", days, "-extfile", directory + "/ext.cnf"});
}

QPushButton* findButton(QWidget* widget, const QString& text)
{
    for (QPushButton* button : widget->findChildren<QPushButton*>())
    {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

QString plainText(const QString& richText)
{
    QTextDocument document;
    document.setHtml(richText);
    return document.toPlainText();
}

} // namespace ValidationTest
