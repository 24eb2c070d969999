#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QUrl>
#include <memory>

class IValidator;
class QAuthenticator;
class QNetworkProxy;
class QNetworkReply;

// Fetches one web address with an HTTP GET and runs a chain of validators over
// the reply. Runs once; reports exactly one of validationSucceeded() or
// validationFailed(reason) per run().
class ValidateWebResource : public QObject
{
    Q_OBJECT

public:
    // How long run() waits for the reply.
    static const int DefaultTimeoutMs = 30000;
    // The most of a body that is read; a larger one fails the check.
    static const int MaxBodyBytes = 4 * 1024 * 1024;
    static const int ReadChunkBytes = 64 * 1024;

    explicit ValidateWebResource(const QUrl& url, QObject* parent = nullptr,
                                 int timeoutMs = DefaultTimeoutMs);
    ~ValidateWebResource() override;

    // The address as it may be shown or logged: a password in it is masked.
    static QString displayText(const QUrl& url);

    // Appends to the chain; validators run in the order added.
    void addValidator(const std::shared_ptr<IValidator>& validator);
    // An empty host means the system's proxy configuration.
    void setProxyInformation(const QString& host, quint16 port, const QString& user,
                             const QString& password);
    // Connects without any proxy, whatever the system names; off by default.
    void setDirectConnection(bool direct) { m_bDirectConnection = direct; }
    bool directConnection() const { return m_bDirectConnection; }

    const QUrl& url() const { return m_Url; }
    bool isCanceled() const { return m_bCanceled; }
    bool timedOut() const { return m_bTimedOut; }
    // What the last run had to accept, or empty.
    const QString& notice() const { return m_sNotice; }
    const QString& proxyHost() const { return m_sProxyHost; }
    quint16 proxyPort() const { return m_nProxyPort; }
    const QString& proxyUser() const { return m_sProxyUser; }
    const QString& proxyPassword() const { return m_sProxyPassword; }
    const QList<std::shared_ptr<IValidator>>& validators() const { return m_lValidators; }

public slots:
    void run();
    void onCancel();
    void onSslErrors(const QList<QSslError>& errors);

signals:
    void validationSucceeded();
    void validationFailed(const QString& reason);
    // Something the user should know about a check, sent before its outcome
    // (a certificate accepted although nobody here trusts its issuer).
    void validationNotice(const QString& notice);
    void proxyAuthenticationRequired(const QNetworkProxy& proxy, QAuthenticator* authenticator);

private:
    // text with every spelling of the address replaced by its display text.
    QString masked(QString text) const;

    QUrl m_Url;
    QList<std::shared_ptr<IValidator>> m_lValidators;
    QPointer<QNetworkReply> m_pReply;
    bool m_bCanceled;
    QString m_sProxyHost;
    quint16 m_nProxyPort;
    QString m_sProxyUser;
    QString m_sProxyPassword;
    bool m_bTimedOut;
    bool m_bDirectConnection;
    bool m_bRunning;
    int m_nTimeoutMs;
    QString m_sNotice;
    // Why the certificate of the last run was refused.
    QString m_sTlsFailure;
};
