#pragma once

// Real peers for the web check tests, all on 127.0.0.1: an HTTP(S) server (a
// Python script) and an HTTP proxy with basic authentication (tinyproxy), each
// started by the test and stopped with it; plus the answering of modal dialogs.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <ostream>

class QPushButton;
class QWidget;

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace ValidationTest
{

// The loopback HTTP server of tests/validation/web_server.py.
class WebServer
{
public:
    // With certificate and key, serves HTTPS.
    explicit WebServer(const QString& certificate = QString(), const QString& key = QString());
    ~WebServer();

    bool isRunning() const { return m_nPort != 0; }
    quint16 port() const { return m_nPort; }
    QUrl url(const QString& path) const;
    // Paths requested so far, in order.
    QStringList requests() const;

private:
    QProcess m_Process;
    QString m_sLog;
    quint16 m_nPort = 0;
    bool m_bTls = false;
};

// tinyproxy on a free loopback port, asking for user "user", password "pass".
class ProxyServer
{
public:
    ProxyServer();
    ~ProxyServer();

    bool isRunning() const { return m_nPort != 0; }
    quint16 port() const { return m_nPort; }

private:
    QProcess m_Process;
    quint16 m_nPort = 0;
};

// A port nothing listens on right now.
quint16 freePort();

enum class Certificate
{
    SelfSigned, // for 127.0.0.1, signed by itself
    PrivateCa,  // for 127.0.0.1, signed by a CA of its own that the server does not send
    OtherHost,  // for other.example, signed by such a CA
    Expired,    // for 127.0.0.1, signed by such a CA, expired yesterday
};

// Makes a key and certificate of that kind under directory. False when openssl fails.
bool makeCertificate(const QString& directory, Certificate kind, QString& certificate,
                     QString& key);

// The push button of widget's children whose text is text, or null.
QPushButton* findButton(QWidget* widget, const QString& text);

// Plain text of a rich-text label text.
QString plainText(const QString& richText);

} // namespace ValidationTest
