#include "ValidateWebResource.h"

#include "IValidator.h"
#include "WaitWithQtEvents.h"

#include <QAuthenticator>
#include <QDebug>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>

ValidateWebResource::ValidateWebResource(const QUrl& url, QObject* parent, int timeoutMs)
    : QObject(parent), m_Url(url), m_bCanceled(false), m_nProxyPort(0), m_bTimedOut(false),
      m_bDirectConnection(false), m_bRunning(false), m_nTimeoutMs(timeoutMs)
{
}

ValidateWebResource::~ValidateWebResource() = default;

namespace
{

bool usesProxy(const QNetworkProxy& proxy)
{
    return proxy.type() != QNetworkProxy::NoProxy && proxy.type() != QNetworkProxy::DefaultProxy &&
           !proxy.hostName().isEmpty();
}

// Failures of the connection itself (with a proxy: the connection to the proxy).
bool isConnectionError(QNetworkReply::NetworkError code)
{
    return code == QNetworkReply::ConnectionRefusedError ||
           code == QNetworkReply::RemoteHostClosedError ||
           code == QNetworkReply::HostNotFoundError || code == QNetworkReply::TimeoutError ||
           (code >= QNetworkReply::ProxyConnectionRefusedError &&
            code <= QNetworkReply::UnknownProxyError);
}

} // namespace

void ValidateWebResource::addValidator(const std::shared_ptr<IValidator>& validator)
{
    if (validator)
        m_lValidators.append(validator);
}

void ValidateWebResource::setProxyInformation(const QString& host, quint16 port,
                                              const QString& user, const QString& password)
{
    m_sProxyHost = host;
    m_nProxyPort = port;
    m_sProxyUser = user;
    m_sProxyPassword = password;
}

QString ValidateWebResource::displayText(const QUrl& url)
{
    if (url.password().isEmpty())
        return url.toString();
    QUrl shown(url);
    shown.setPassword(QStringLiteral("****"));
    return shown.toString();
}

QString ValidateWebResource::masked(QString text) const
{
    if (m_Url.password().isEmpty())
        return text;
    const QString shown = displayText(m_Url);
    for (const QString& form :
         {m_Url.toString(), QString::fromLatin1(m_Url.toEncoded()), m_Url.toDisplayString()})
        text.replace(form, shown);
    return text;
}

void ValidateWebResource::run()
{
    const QString urlText = displayText(m_Url);
    qDebug().noquote() << "ValidateWebResource::run(" + urlText + ") begin";
    // A second run while one is in flight (from the nested event loop) would
    // report twice for one check.
    if (m_bRunning)
    {
        qDebug().noquote() << "ValidateWebResource::run(" + urlText + ") already running";
        return;
    }
    m_bRunning = true;
    m_sNotice.clear();
    m_sTlsFailure.clear();

    QNetworkAccessManager manager;
    QNetworkRequest request(m_Url);
    // Qt unpacks compressed answers before the size cap below sees them, so a small
    // compressed piece could grow many times over: ask for the plain body.
    request.setRawHeader("Accept-Encoding", "identity");
    if (!m_sProxyHost.isEmpty())
    {
        manager.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, m_sProxyHost, m_nProxyPort,
                                       m_sProxyUser, m_sProxyPassword));
    }
    else if (m_bDirectConnection)
    {
        manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    }
    else
    {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        const QList<QNetworkProxy> proposed = QNetworkProxyFactory::systemProxyForQuery(
            QNetworkProxyQuery(m_Url, QNetworkProxyQuery::UrlRequest));
        if (!proposed.isEmpty())
        {
            QNetworkProxy proxy = proposed.first();
            // Credentials the user typed at an earlier prompt serve a system proxy
            // that carries none, so the prompt is not repeated for every address.
            if (proxy.type() != QNetworkProxy::NoProxy && proxy.user().isEmpty() &&
                !m_sProxyUser.isEmpty())
            {
                proxy.setUser(m_sProxyUser);
                proxy.setPassword(m_sProxyPassword);
            }
            manager.setProxy(proxy);
        }
    }
    if (m_bCanceled)
    {
        m_bRunning = false;
        emit validationFailed(tr("Operation canceled"));
        qDebug().noquote() << "ValidateWebResource::run(" + urlText + ") end";
        return;
    }

    QNetworkReply* reply = manager.get(request);
    m_pReply = reply;
    connect(reply, &QNetworkReply::sslErrors, this, &ValidateWebResource::onSslErrors);

    // The body is read as it arrives and only up to MaxBodyBytes: a server may
    // send without end. The network layer's own buffer stays small meanwhile.
    QByteArray body;
    bool tooLarge = false;
    reply->setReadBufferSize(ReadChunkBytes);
    const auto stopTooLarge = [&tooLarge, reply]
    {
        tooLarge = true;
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, this,
            [reply, &tooLarge, stopTooLarge]
            {
                bool known = false;
                const qlonglong length =
                    reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
                if (known && length > MaxBodyBytes && !tooLarge)
                    stopTooLarge();
            });
    const auto readAvailable = [reply, &body, &tooLarge, stopTooLarge]
    {
        while (!tooLarge && reply->bytesAvailable() > 0)
        {
            const QByteArray chunk = reply->read(ReadChunkBytes);
            if (chunk.isEmpty())
                break;
            if (body.size() + chunk.size() > MaxBodyBytes)
            {
                stopTooLarge();
                break;
            }
            body += chunk;
        }
    };
    connect(reply, &QNetworkReply::readyRead, this, readAvailable);

    // The time limit covers the whole fetch, except the time a proxy password
    // prompt is open: the user's typing must not make the check time out.
    QElapsedTimer clock;
    clock.start();
    qint64 promptMs = 0;
    connect(&manager, &QNetworkAccessManager::proxyAuthenticationRequired, this,
            [this, &promptMs](const QNetworkProxy& proxy, QAuthenticator* authenticator)
            {
                QElapsedTimer prompt;
                prompt.start();
                emit proxyAuthenticationRequired(proxy, authenticator);
                promptMs += prompt.elapsed();
            });

    // The check may be discarded (its dialog closed with the page tree) while the
    // wait processes events; the manager and reply are this frame's own.
    QPointer<ValidateWebResource> self(this);
    const int timeoutMs = m_nTimeoutMs;
    QtPort::WaitWithQtEvents waiter(
        [reply, &clock, &promptMs, timeoutMs]
        { return !reply->isFinished() && clock.elapsed() - promptMs < timeoutMs; });
    waiter.AddSignal(this, SIGNAL(destroyed()));
    waiter.Wait(0);
    if (!self)
    {
        qDebug().noquote() << "ValidateWebResource::run(" + urlText + ") discarded";
        return;
    }
    m_bTimedOut = !reply->isFinished();

    // Reporting may start the next check or close the dialog; the reply and the
    // manager stay local to this run whatever the receivers do.
    bool succeeded = false;
    QString reason;
    if (m_bTimedOut)
    {
        reason = QStringLiteral("The connection to the remote server timed out");
    }
    else if (tooLarge)
    {
        reason =
            QStringLiteral("The response is larger than the limit of %1 bytes").arg(MaxBodyBytes);
    }
    else
    {
        readAvailable();
        const QNetworkReply::NetworkError code = reply->error();
        const QString errorString = reply->errorString();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        qDebug().noquote() << "ValidateWebResource::run" << urlText << "rc:" << int(code)
                           << "errorString:" << masked(errorString)
                           << "timed out:" << (m_bTimedOut ? "true" : "false")
                           << "status:" << status;
        if (tooLarge)
        {
            reason = QStringLiteral("The response is larger than the limit of %1 bytes")
                         .arg(MaxBodyBytes);
        }
        // These errors mean the server did answer with an HTTP status.
        else if (code == QNetworkReply::NoError || code == QNetworkReply::ContentAccessDenied ||
                 code == QNetworkReply::ContentNotFoundError ||
                 code == QNetworkReply::AuthenticationRequiredError)
        {
            succeeded = true;
            for (const std::shared_ptr<IValidator>& validator : m_lValidators)
            {
                QString error;
                if (!validator->validate(reply, body, error))
                {
                    succeeded = false;
                    reason = error;
                    break;
                }
            }
        }
        else if (code == QNetworkReply::SslHandshakeFailedError && !m_sTlsFailure.isEmpty())
        {
            // The network layer only says that the handshake failed; the user
            // needs to know why.
            reason = errorString + QStringLiteral(": ") + m_sTlsFailure;
        }
        else if (usesProxy(manager.proxy()) && isConnectionError(code))
        {
            // The connection that failed was the one to the proxy, not to the
            // address being checked.
            reason = QStringLiteral("The proxy %1:%2 failed: %3")
                         .arg(manager.proxy().hostName())
                         .arg(manager.proxy().port())
                         .arg(errorString);
        }
        else
        {
            reason = errorString;
        }
    }
    // The network layer's messages may quote the address with its password.
    reason = masked(reason);
    m_pReply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    if (!reply->isFinished())
        reply->abort();
    m_bRunning = false;

    if (!m_sNotice.isEmpty())
        emit validationNotice(m_sNotice);
    if (succeeded)
        emit validationSucceeded();
    else
        emit validationFailed(reason);
    qDebug().noquote() << "ValidateWebResource::run(" + urlText + ") end";
}

void ValidateWebResource::onCancel()
{
    m_bCanceled = true;
    if (m_pReply)
        m_pReply->abort();
}

void ValidateWebResource::onSslErrors(const QList<QSslError>& errors)
{
    // Only a certificate whose issuer is unknown here (a private CA) may pass,
    // and the result says so. A certificate for another host proves nothing
    // about the server, whoever signed it.
    bool acceptable = !errors.isEmpty();
    QStringList reasons;
    QString issuer;
    for (const QSslError& error : errors)
    {
        qDebug().noquote() << "SSL error:" << int(error.error()) << error.errorString();
        if (!reasons.contains(error.errorString()))
            reasons.append(error.errorString());
        if (issuer.isEmpty() && !error.certificate().isNull())
            issuer = error.certificate().issuerDisplayName();
        switch (error.error())
        {
        case QSslError::NoError:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            break;
        default:
            acceptable = false;
            break;
        }
    }
    QNetworkReply* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        reply = m_pReply;
    if (acceptable && reply)
    {
        reply->ignoreSslErrors(errors);
        m_sNotice = QStringLiteral("The server's certificate is not trusted by this computer "
                                   "(issued by \"%1\").")
                        .arg(issuer);
    }
    else
    {
        m_sTlsFailure = reasons.join(QStringLiteral("; "));
    }
}
