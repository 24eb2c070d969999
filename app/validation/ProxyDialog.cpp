#include "ProxyDialog.h"

#include <QAuthenticator>
#include <QDebug>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QPointer>
#include <QRadioButton>

namespace QtDownloader
{

ProxyDialog::ProxyDialog(QWidget* parent)
    : QDialog(parent), m_SelectedProxy(ProxyHandler::System), m_nProxyPort(0)
{
    setMinimumSize(200, 100);
    auto* layout = new QGridLayout(this);
    layout->setSpacing(5);
    layout->setContentsMargins(9, 9, 9, 9);

    m_pInfoLabel = new QLabel(this);
    m_pInfoLabel->setObjectName(QStringLiteral("proxylabel"));
    m_pInfoLabel->setWordWrap(true);
    m_pInfoLabel->hide();
    m_pRealmLabel = new QLabel(this);
    m_pRealmLabel->setObjectName(QStringLiteral("realmlabel"));
    m_pRealmLabel->setWordWrap(true);
    m_pRealmLabel->hide();

    m_pSystemButton = new QRadioButton(tr("Use System settings"), this);
    m_pNoProxyButton = new QRadioButton(tr("No proxy"), this);
    m_pOtherButton = new QRadioButton(tr("Use other proxy:"), this);
    for (QRadioButton* button : {m_pSystemButton, m_pNoProxyButton, m_pOtherButton})
        button->setObjectName(QStringLiteral("proxyradiobutton"));

    m_pOtherFrame = new QFrame(this);
    m_pOtherFrame->setObjectName(QStringLiteral("otherproxyframe"));
    auto* frameLayout = new QGridLayout(m_pOtherFrame);
    frameLayout->setSpacing(5);
    m_pHostEdit = new QLineEdit(m_pOtherFrame);
    m_pHostEdit->setObjectName(QStringLiteral("proxylineedit"));
    m_pPortEdit = new QLineEdit(QStringLiteral("0"), m_pOtherFrame);
    m_pPortEdit->setObjectName(QStringLiteral("proxyportedit"));
    m_pPortEdit->setValidator(new QIntValidator(0, 65535, m_pPortEdit));
    m_pPortEdit->setMaximumWidth(50);
    m_pUserEdit = new QLineEdit(m_pOtherFrame);
    m_pUserEdit->setObjectName(QStringLiteral("proxyuseredit"));
    m_pPasswordEdit = new QLineEdit(m_pOtherFrame);
    m_pPasswordEdit->setObjectName(QStringLiteral("proxypasswordedit"));
    m_pPasswordEdit->setEchoMode(QLineEdit::Password);
    frameLayout->addWidget(new QLabel(tr("Host:"), m_pOtherFrame), 0, 0);
    frameLayout->addWidget(m_pHostEdit, 0, 1);
    frameLayout->addWidget(new QLabel(tr("Port:"), m_pOtherFrame), 0, 2);
    frameLayout->addWidget(m_pPortEdit, 0, 3);
    frameLayout->addWidget(new QLabel(tr("User name:"), m_pOtherFrame), 1, 0);
    frameLayout->addWidget(m_pUserEdit, 1, 1, 1, 3);
    frameLayout->addWidget(new QLabel(tr("Password:"), m_pOtherFrame), 2, 0);
    frameLayout->addWidget(m_pPasswordEdit, 2, 1, 1, 3);

    m_pButtonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_pButtonBox->setObjectName(QStringLiteral("proxybuttonbox"));

    int row = 0;
    layout->addWidget(m_pInfoLabel, row++, 0);
    layout->addWidget(m_pRealmLabel, row++, 0);
    layout->addWidget(m_pSystemButton, row++, 0);
    layout->addWidget(m_pNoProxyButton, row++, 0);
    layout->addWidget(m_pOtherButton, row++, 0);
    layout->addWidget(m_pOtherFrame, row++, 0);
    layout->addWidget(m_pButtonBox, row++, 0);

    connect(m_pSystemButton, &QRadioButton::toggled, this, &ProxyDialog::SelectSystemProxy);
    connect(m_pNoProxyButton, &QRadioButton::toggled, this, &ProxyDialog::SelectNoProxy);
    connect(m_pOtherButton, &QRadioButton::toggled, this, &ProxyDialog::SelectOtherProxy);
    connect(m_pHostEdit, &QLineEdit::textChanged, this, &ProxyDialog::OnSetProxyHost);
    connect(m_pPortEdit, &QLineEdit::textChanged, this, &ProxyDialog::OnSetProxyPort);
    connect(m_pUserEdit, &QLineEdit::textChanged, this, &ProxyDialog::OnSetUsername);
    connect(m_pPasswordEdit, &QLineEdit::textChanged, this, &ProxyDialog::OnSetPassword);
    connect(m_pButtonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_pButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_pSystemButton->setChecked(true);
    OnSetSelectedProxy();
}

ProxyDialog::~ProxyDialog() = default;

void ProxyDialog::SetProxyHost(const QString& host)
{
    m_pHostEdit->setText(host);
    m_sProxyHost = host;
}

void ProxyDialog::SetProxyPort(quint16 port)
{
    m_pPortEdit->setText(QString::number(port));
    m_nProxyPort = port;
}

void ProxyDialog::SetUsername(const QString& user)
{
    m_pUserEdit->setText(user);
    m_sUsername = user;
}

void ProxyDialog::SetPassword(const QString& password)
{
    m_pPasswordEdit->setText(password);
    m_sPassword = password;
}

void ProxyDialog::SetSelectedProxy(ProxyHandler::eProxyType type)
{
    switch (type)
    {
    case ProxyHandler::System:
        m_pSystemButton->setChecked(true);
        break;
    case ProxyHandler::Preferences:
        m_pOtherButton->setChecked(true);
        break;
    case ProxyHandler::None:
        m_pNoProxyButton->setChecked(true);
        break;
    default:
    {
        // Radio buttons of one parent are exclusive; unchecking all of them takes
        // switching that off for a moment.
        for (QRadioButton* button : {m_pSystemButton, m_pNoProxyButton, m_pOtherButton})
        {
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(true);
        }
        break;
    }
    }
    m_SelectedProxy = type;
    OnSetSelectedProxy();
}

void ProxyDialog::SetInfoText(const QString& text)
{
    m_pInfoLabel->setText(text);
    m_pInfoLabel->setVisible(!text.isEmpty());
}

void ProxyDialog::SetPasswordRequestMode(const QString& host, quint16 port, const QString& realm)
{
    SetProxyHost(host);
    SetProxyPort(port);
    m_pHostEdit->setEnabled(false);
    m_pPortEdit->setEnabled(false);
    m_pSystemButton->hide();
    m_pNoProxyButton->hide();
    m_pOtherButton->hide();
    m_pOtherFrame->setEnabled(true);
    if (m_pInfoLabel->text().isEmpty())
        SetInfoText(tr("Type your user name and password."));
    if (windowTitle().isEmpty())
        setWindowTitle(tr("Authentication Required"));
    m_pRealmLabel->setText(realm);
    m_pRealmLabel->setVisible(!realm.isEmpty());
    m_pUserEdit->setFocus();
}

void ProxyDialog::SelectSystemProxy(bool checked)
{
    if (!checked)
        return;
    m_SelectedProxy = ProxyHandler::System;
    OnSetSelectedProxy();
}

void ProxyDialog::SelectNoProxy(bool checked)
{
    if (!checked)
        return;
    m_SelectedProxy = ProxyHandler::None;
    OnSetSelectedProxy();
}

void ProxyDialog::SelectOtherProxy(bool checked)
{
    if (!checked)
        return;
    m_SelectedProxy = ProxyHandler::Preferences;
    OnSetSelectedProxy();
}

void ProxyDialog::OnSetSelectedProxy()
{
    // In password request mode the choice is hidden and the credentials stay editable.
    if (m_pOtherButton->isHidden())
        return;
    m_pOtherFrame->setEnabled(m_SelectedProxy == ProxyHandler::Preferences);
}

void ProxyDialog::OnSetProxyHost(const QString& text)
{
    m_sProxyHost = text.trimmed();
}

void ProxyDialog::OnSetProxyPort(const QString& text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    m_nProxyPort = ok && port <= 65535 ? quint16(port) : 0;
}

void ProxyDialog::OnSetUsername(const QString& text)
{
    m_sUsername = text;
}

void ProxyDialog::OnSetPassword(const QString& text)
{
    m_sPassword = text;
}

bool ProxyDialog::HandleProxyAuthentication(QWidget* parent, ProxyHandler* handler,
                                            const QNetworkProxy& proxy,
                                            QAuthenticator* authenticator)
{
    if (!authenticator)
        return false;
    QString user = authenticator->user();
    QString password = authenticator->password();
    const QString realm = authenticator->realm();
    if (user.isEmpty())
    {
        user = proxy.user();
        password = proxy.password();
    }
    if (!HandleProxyAuthentication(parent, handler, realm, proxy.hostName(), proxy.port(), user,
                                   password))
        return false;
    authenticator->setUser(user);
    authenticator->setPassword(password);
    return true;
}

bool ProxyDialog::HandleProxyAuthentication(QWidget* parent, ProxyHandler* handler,
                                            const QString& realm, const QString& host, quint16 port,
                                            QString& user, QString& password)
{
    qDebug().noquote() << "ProxyDialog::HandleProxyAuthentication(" + host + ") begin";
    // The parent may go away while the prompt runs its own event loop.
    QPointer<ProxyDialog> dialog = new ProxyDialog(parent);
    dialog->SetPasswordRequestMode(host, port, realm);
    dialog->SetUsername(user);
    dialog->SetPassword(password);
    const int answer = dialog->exec();
    bool accepted = false;
    if (dialog && answer == QDialog::Accepted)
    {
        user = dialog->GetUsername();
        password = dialog->GetPassword();
        if (handler)
            handler->UpdateCredentials(host, port, user, password);
        accepted = true;
    }
    delete dialog;
    qDebug().noquote() << "ProxyDialog::HandleProxyAuthentication(" + host + ") end";
    return accepted;
}

} // namespace QtDownloader
