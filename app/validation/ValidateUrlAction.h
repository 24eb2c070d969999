#pragma once

#include "ProxyHandler.h"
#include "WebResource.h"
#include "shared/XmlWidgets/ActionItem.h"

#include <QList>
#include <QPointer>
#include <QString>

class CActionHost;
class QAuthenticator;
class QDialog;
class QNetworkProxy;
class QPushButton;
class ValidateWebResource;

// The "validateurl" action: its slot "validate" shows a modal results dialog,
// checks the action's web addresses one after another, shows a mark and reason
// for each, and offers Retry, Proxy Settings, Cancel and Close. When the dialog
// is closed the action reports success exactly when every check of the last run
// passed, so that its nested success, failure and post actions run.
class CValidateUrlAction : public CActionItem
{
    Q_OBJECT

public:
    explicit CValidateUrlAction(CXmlObject* owner);
    ~CValidateUrlAction() override;

    int parse(TiXmlElement* element, QString& error) override;
    // Runs validate() for the slot "validate"; false for every other slot.
    bool performAction(const QString& slot, const CActionItem* sender) override;

    const QString& title() const { return m_sTitle; }
    const QString& topMessage() const { return m_sTopMessage; }
    const QString& bottomMessage() const { return m_sBottomMessage; }
    const QList<WebResource>& webResources() const { return m_lWebResources; }
    // The proxy the next run uses; an empty host means the system's settings
    // unless a direct connection was chosen.
    const QString& proxyHost() const { return m_sProxyHost; }
    quint16 proxyPort() const { return m_nProxyPort; }
    const QString& proxyUser() const { return m_sProxyUser; }
    const QString& proxyPassword() const { return m_sProxyPassword; }
    bool directConnection() const { return m_bDirectConnection; }

public slots:
    // Returns once the results dialog is closed.
    void validate();
    void onSuccess();
    void onFailure();
    void onSingleCompletion();
    void onProxySettings();
    void onProxyAuthenticationRequired(const QNetworkProxy& proxy, QAuthenticator* authenticator);
    void onLinkActivated(const QString& link);

private slots:
    void kickOffValidation();

private:
    // One dialog and one set of checks; true when the user asked for a retry.
    bool runOnce();
    // The checks one after another for a root that answers actions itself.
    void runWithoutDialog(CActionHost& answering);
    void addValidators(ValidateWebResource* check, const WebResource& resource) const;

    QString m_sTitle;
    QString m_sTopMessage;
    QString m_sBottomMessage;
    QList<WebResource> m_lWebResources;
    QList<QPointer<ValidateWebResource>> m_lPending;
    int m_iCompleted;
    int m_iFailed;
    QString m_sProxyHost;
    quint16 m_nProxyPort;
    QString m_sProxyUser;
    QString m_sProxyPassword;
    // "No proxy" chosen in the proxy settings: connect directly even when the
    // system names a proxy.
    bool m_bDirectConnection;
    bool m_bValidating;
    // The proxy password prompt was declined in this run.
    bool m_bPromptDeclined;
    QPointer<QDialog> m_pDialog;
    QPointer<QPushButton> m_pProxySettingsButton;
    QPointer<QPushButton> m_pRetryButton;
    QPointer<QPushButton> m_pCancelButton;
    QPointer<QPushButton> m_pCloseButton;
};
