#pragma once

#include "ProxyHandler.h"

#include <QDialog>
#include <QString>

class QAuthenticator;
class QDialogButtonBox;
class QFrame;
class QLabel;
class QLineEdit;
class QNetworkProxy;
class QRadioButton;

namespace QtDownloader
{

// Lets the administrator choose the proxy of the web checks (system settings,
// none, or a given host with credentials), or, in password request mode, type
// the credentials a proxy asks for.
class ProxyDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ProxyDialog(QWidget* parent = nullptr);
    ~ProxyDialog() override;

    void SetProxyHost(const QString& host);
    void SetProxyPort(quint16 port);
    void SetUsername(const QString& user);
    void SetPassword(const QString& password);
    void SetSelectedProxy(ProxyHandler::eProxyType type);
    void SetInfoText(const QString& text);
    // Host and port fixed, proxy choice hidden, only the credentials editable.
    void SetPasswordRequestMode(const QString& host, quint16 port, const QString& realm);

    QString GetProxyHost() const { return m_sProxyHost; }
    quint16 GetProxyPort() const { return m_nProxyPort; }
    QString GetUsername() const { return m_sUsername; }
    QString GetPassword() const { return m_sPassword; }
    ProxyHandler::eProxyType GetSelectedProxy() const { return m_SelectedProxy; }

    // Asks for the credentials of proxy; on acceptance fills authenticator and
    // the handler's matching proxies and returns true.
    static bool HandleProxyAuthentication(QWidget* parent, ProxyHandler* handler,
                                          const QNetworkProxy& proxy,
                                          QAuthenticator* authenticator);
    // user and password prefill the dialog and receive the typed values on acceptance.
    static bool HandleProxyAuthentication(QWidget* parent, ProxyHandler* handler,
                                          const QString& realm, const QString& host, quint16 port,
                                          QString& user, QString& password);

public slots:
    void SelectSystemProxy(bool checked);
    void SelectNoProxy(bool checked);
    void SelectOtherProxy(bool checked);
    // Enables the credentials frame to match the selected proxy type.
    void OnSetSelectedProxy();
    void OnSetProxyHost(const QString& text);
    void OnSetProxyPort(const QString& text);
    void OnSetUsername(const QString& text);
    void OnSetPassword(const QString& text);

private:
    QLineEdit* m_pHostEdit;
    QLineEdit* m_pPortEdit;
    QLineEdit* m_pUserEdit;
    QLineEdit* m_pPasswordEdit;
    QRadioButton* m_pSystemButton;
    QRadioButton* m_pNoProxyButton;
    QRadioButton* m_pOtherButton;
    QFrame* m_pOtherFrame;
    QLabel* m_pInfoLabel;
    QLabel* m_pRealmLabel;
    QDialogButtonBox* m_pButtonBox;

    ProxyHandler::eProxyType m_SelectedProxy;
    QString m_sProxyHost;
    quint16 m_nProxyPort;
    QString m_sUsername;
    QString m_sPassword;
};

} // namespace QtDownloader
