#include "ValidateUrlAction.h"

#include "CheckResults.h"
#include "ProxyDialog.h"
#include "ResultWidget.h"
#include "StatusCodeValidator.h"
#include "ValidateWebResource.h"
#include "WaitWithQtEvents.h"
#include "WsdlValidator.h"
#include "XmlWellFormedValidator.h"
#include "shared/XmlWidgets/ActionHost.h"

#include <QAuthenticator>
#include <QDebug>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QNetworkProxy>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <tinyxml.h>

// Resources of a static library are registered by hand, outside any namespace.
static void initValidationResources()
{
    Q_INIT_RESOURCE(validation);
}

namespace
{

// Text for a rich-text label; quotes too, as it also goes into attributes.
QString escaped(const QString& text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}

} // namespace

CValidateUrlAction::CValidateUrlAction(CXmlObject* owner)
    : CActionItem(owner), m_iCompleted(0), m_iFailed(0), m_nProxyPort(0),
      m_bDirectConnection(false), m_bValidating(false), m_bPromptDeclined(false)
{
    initValidationResources();
}

CValidateUrlAction::~CValidateUrlAction()
{
    // A dialog still open (the tree discarded from its event loop) goes with us.
    delete m_pDialog;
}

int CValidateUrlAction::parse(TiXmlElement* element, QString& error)
{
    const int base = CXmlObject::parse(element, error);
    if (base != ParseSuccess)
        return base;

    m_sSignal = convertAttribute(element->Attribute("signal"));
    const char* slot = element->Attribute("slot");
    m_sSlot = slot ? QString::fromUtf8(slot) : QString();
    m_sTitle = convertAttribute(element->Attribute("title"));
    m_sTopMessage = convertAttribute(element->Attribute("topmessage"));
    m_sBottomMessage = convertAttribute(element->Attribute("bottommessage"));

    if (m_sSignal.isEmpty())
    {
        error = tr("Missing signal attribute in action");
        return ParseError;
    }
    if (m_sSlot.isEmpty())
    {
        error = tr("Missing slot attribute in action: %1").arg(m_sSignal);
        return ParseError;
    }

    m_lWebResources.clear();
    for (TiXmlElement* child = element->FirstChildElement("url"); child;
         child = child->NextSiblingElement("url"))
    {
        WebResource resource;
        resource.name = convertAttribute(child->Attribute("name"));
        resource.url = convertAttribute(child->Attribute("u"));
        resource.statusValidation = convertAttribute(child->Attribute("statusValidation"));
        resource.contentValidation = convertAttribute(child->Attribute("contentValidation"));
        m_lWebResources.append(resource);
    }

    if (m_pParent && m_pParent->initSignal(m_sSignal, this, nullptr, error) == ParseError)
        return ParseError;

    // Direct: a caller such as the publish request must know the outcome (and
    // see what its failure branch did) as soon as the dialog is closed.
    connect(this, &CValidateUrlAction::internalActionDone, this,
            &CValidateUrlAction::mainActionDone);
    return ParseSuccess;
}

bool CValidateUrlAction::performAction(const QString& slot, const CActionItem* /*sender*/)
{
    if (slot != QLatin1String("validate"))
        return false;
    validate();
    return true;
}

void CValidateUrlAction::validate()
{
    const QString signal = m_sSignal;
    qDebug().noquote() << "CValidateUrlAction::validate(" + signal + ") begin";
    // A second trigger while the dialog is open would tear the running checks'
    // bookkeeping apart; the open dialog reports for both.
    if (m_bValidating)
    {
        qDebug().noquote() << "CValidateUrlAction::validate(" + signal + ") already running";
        return;
    }
    // The page tree, this action included, may be discarded from the dialog's
    // event loop; then nothing of it may be touched again.
    QPointer<CValidateUrlAction> self(this);
    m_bValidating = true;
    if (CActionHost* const answering = host())
    {
        runWithoutDialog(*answering);
        m_bValidating = false;
        emit internalActionDone(m_iFailed == 0);
        qDebug().noquote() << "CValidateUrlAction::validate(" + signal + ") end";
        return;
    }
    bool retry = false;
    do
    {
        retry = runOnce();
    } while (self && retry);
    if (self)
    {
        m_bValidating = false;
        emit internalActionDone(m_iFailed == 0);
    }
    qDebug().noquote() << "CValidateUrlAction::validate(" + signal + ") end";
}

void CValidateUrlAction::runWithoutDialog(CActionHost& answering)
{
    m_iCompleted = 0;
    m_iFailed = 0;
    CCheckResults::begin(m_sTitle);
    for (const WebResource& resource : qAsConst(m_lWebResources))
    {
        ValidateWebResource check(QUrl(resource.url), nullptr, answering.actionTimeoutMs());
        check.setProxyInformation(m_sProxyHost, m_nProxyPort, m_sProxyUser, m_sProxyPassword);
        check.setDirectConnection(m_bDirectConnection);
        addValidators(&check, resource);
        bool done = false;
        bool passed = false;
        QString reason;
        connect(&check, &ValidateWebResource::validationSucceeded, this,
                [&] { passed = done = true; });
        connect(&check, &ValidateWebResource::validationFailed, this,
                [&](const QString& why)
                {
                    reason = why;
                    done = true;
                });
        check.run();
        if (!done)
        {
            QtPort::WaitWithQtEvents wait([&done] { return !done; });
            wait.Wait(answering.actionTimeoutMs() + 1000);
        }
        if (!done)
            reason = tr("No answer.");
        ++m_iCompleted;
        if (!passed)
            ++m_iFailed;
        CCheckResults::record(resource.name, resource.url, passed, reason);
        answering.actionWebCheck(*this, resource.name, resource.url, passed, reason);
    }
}

bool CValidateUrlAction::runOnce()
{
    QPointer<CValidateUrlAction> self(this);
    m_iCompleted = 0;
    m_iFailed = 0;
    m_bPromptDeclined = false;
    m_lPending.clear();
    CCheckResults::begin(m_sTitle);

    auto* dialog =
        new QDialog(dialogParent(), Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    m_pDialog = dialog;
    dialog->setObjectName(QStringLiteral("progressdialog"));
    dialog->setModal(true);
    dialog->setWindowTitle(m_sTitle);
    auto* layout = new QGridLayout(dialog);

    auto* top = new QLabel(m_sTopMessage, dialog);
    top->setObjectName(QStringLiteral("topmessage"));
    top->setWordWrap(true);
    top->setVisible(!m_sTopMessage.isEmpty());
    connect(top, &QLabel::linkActivated, this, &CValidateUrlAction::onLinkActivated);

    auto* panel = new QFrame(dialog);
    panel->setObjectName(QStringLiteral("resultspanel"));
    panel->setFrameStyle(QFrame::Box | QFrame::Plain);
    panel->setAutoFillBackground(true);
    panel->setBackgroundRole(QPalette::Base);
    auto* results = new QGridLayout(panel);

    auto* bottom = new QLabel(m_sBottomMessage, dialog);
    bottom->setObjectName(QStringLiteral("bottommessage"));
    bottom->setWordWrap(true);
    bottom->setVisible(!m_sBottomMessage.isEmpty());
    connect(bottom, &QLabel::linkActivated, this, &CValidateUrlAction::onLinkActivated);

    auto* buttons = new QDialogButtonBox(dialog);
    m_pProxySettingsButton = buttons->addButton(tr("Proxy Settings"), QDialogButtonBox::ResetRole);
    m_pRetryButton = buttons->addButton(tr("Retry"), QDialogButtonBox::ResetRole);
    m_pCancelButton = buttons->addButton(tr("Cancel"), QDialogButtonBox::ResetRole);
    m_pCloseButton = buttons->addButton(tr("Close"), QDialogButtonBox::AcceptRole);

    layout->addWidget(top, 0, 0);
    layout->addWidget(panel, 1, 0);
    layout->addWidget(bottom, 2, 0);
    layout->addWidget(buttons, 3, 0);

    int row = 1;
    for (const WebResource& resource : qAsConst(m_lWebResources))
    {
        auto* details = new QLabel(panel);
        details->setTextFormat(Qt::RichText);
        details->setWordWrap(true);
        // Wide enough that an address or a short reason stays on one line.
        details->setMinimumWidth(320);
        details->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                         Qt::LinksAccessibleByKeyboard);
        auto* mark = new ResultWidget(details, panel);
        mark->setMaximumWidth(50);
        auto* caption = new QLabel(panel);
        // A password in the address is not shown; the link opens the address as
        // written, whatever the label's rich text makes of "&" or quotes.
        const QString shown = escaped(ValidateWebResource::displayText(QUrl(resource.url)));
        if (!resource.name.isEmpty())
        {
            caption->setText(
                QStringLiteral("%1\n%2\n%3").arg(tr("Name:"), tr("URL:"), tr("Result:")));
            details->setText(
                QStringLiteral("%1<br><a href='%2'>%2</a><br>").arg(escaped(resource.name), shown));
        }
        else
        {
            caption->setText(QStringLiteral("%1\n%2").arg(tr("URL:"), tr("Result:")));
            details->setText(QStringLiteral("<a href='%1'>%1</a><br>").arg(shown));
        }
        const QString address = resource.url;
        connect(details, &QLabel::linkActivated, this,
                [this, address] { onLinkActivated(address); });
        results->addWidget(mark, row, 1);
        results->addWidget(caption, row, 2, Qt::AlignTop);
        results->addWidget(details, row, 3, Qt::AlignTop);

        auto* check = new ValidateWebResource(QUrl(resource.url), dialog);
        check->setProxyInformation(m_sProxyHost, m_nProxyPort, m_sProxyUser, m_sProxyPassword);
        check->setDirectConnection(m_bDirectConnection);
        addValidators(check, resource);
        m_lPending.append(check);

        connect(m_pCancelButton, &QPushButton::clicked, check, &ValidateWebResource::onCancel);
        // Closing the dialog another way (Escape) while checks are due stops them too.
        connect(dialog, &QDialog::finished, check, &ValidateWebResource::onCancel);
        connect(check, &ValidateWebResource::proxyAuthenticationRequired, this,
                &CValidateUrlAction::onProxyAuthenticationRequired);
        connect(check, &ValidateWebResource::validationNotice, mark, &ResultWidget::onNotice);
        connect(check, &ValidateWebResource::validationSucceeded, mark, &ResultWidget::onSuccess);
        connect(check, &ValidateWebResource::validationSucceeded, this,
                &CValidateUrlAction::onSuccess);
        connect(check, &ValidateWebResource::validationFailed, mark, &ResultWidget::onFailure);
        connect(check, &ValidateWebResource::validationFailed, this,
                &CValidateUrlAction::onFailure);
        // Kept for the review report.
        connect(check, &ValidateWebResource::validationSucceeded, this,
                [resource]
                { CCheckResults::record(resource.name, resource.url, true, QString()); });
        connect(check, &ValidateWebResource::validationFailed, this,
                [resource](const QString& reason)
                { CCheckResults::record(resource.name, resource.url, false, reason); });
        ++row;
    }

    m_pProxySettingsButton->setEnabled(false);
    m_pRetryButton->setEnabled(false);
    m_pCancelButton->setEnabled(true);
    m_pCloseButton->setEnabled(false);

    bool retry = false;
    connect(m_pRetryButton, &QPushButton::clicked, dialog,
            [dialog, &retry]
            {
                retry = true;
                dialog->reject();
            });
    connect(m_pCloseButton, &QPushButton::clicked, dialog, &QDialog::accept);
    connect(m_pProxySettingsButton, &QPushButton::clicked, this,
            &CValidateUrlAction::onProxySettings);

    dialog->show();
    kickOffValidation();
    {
        QtPort::WaitWithQtEvents waiter(dialog, SIGNAL(finished(int)));
        waiter.AddSignal(dialog, SIGNAL(destroyed()));
        waiter.Wait(0);
    }
    if (!self)
        return false;

    // Closed while checks were still due (Escape): they are canceled; let them
    // report before their dialog goes.
    if (m_iCompleted != m_lWebResources.size())
    {
        QtPort::WaitWithQtEvents rest(
            [this, self] { return self && m_pDialog && m_iCompleted != m_lWebResources.size(); });
        rest.Wait(0);
        if (!self)
            return false;
    }
    m_lPending.clear();
    delete m_pDialog;
    return retry;
}

void CValidateUrlAction::addValidators(ValidateWebResource* check,
                                       const WebResource& resource) const
{
    if (resource.statusValidation == QLatin1String("2xx"))
    {
        check->addValidator(std::make_shared<StatusCodeValidator>(StatusCodeValidator::Group2xx));
    }
    else if (!resource.statusValidation.isEmpty())
    {
        auto status = std::make_shared<StatusCodeValidator>(StatusCodeValidator::NoGroup);
        for (const QString& part : resource.statusValidation.split(QLatin1Char(',')))
            status->addExpectedCode(part.trimmed().toInt(nullptr, 10));
        check->addValidator(status);
    }
    if (resource.contentValidation == QLatin1String("xml"))
        check->addValidator(std::make_shared<XmlWellFormedValidator>());
    else if (resource.contentValidation == QLatin1String("wsdl"))
        check->addValidator(std::make_shared<WsdlValidator>());
}

void CValidateUrlAction::kickOffValidation()
{
    while (!m_lPending.isEmpty())
    {
        QPointer<ValidateWebResource> check = m_lPending.takeFirst();
        if (!check)
            continue;
        // From the event loop, so that this call and its callers return first.
        QTimer::singleShot(0, check, &ValidateWebResource::run);
        return;
    }
}

void CValidateUrlAction::onSuccess()
{
    onSingleCompletion();
}

void CValidateUrlAction::onFailure()
{
    ++m_iFailed;
    onSingleCompletion();
}

void CValidateUrlAction::onSingleCompletion()
{
    ++m_iCompleted;
    if (m_iCompleted != m_lWebResources.size())
    {
        kickOffValidation();
        return;
    }
    if (m_pProxySettingsButton)
        m_pProxySettingsButton->setEnabled(true);
    if (m_pCloseButton)
        m_pCloseButton->setEnabled(true);
    if (m_pRetryButton)
        m_pRetryButton->setEnabled(true);
    if (m_pCancelButton)
        m_pCancelButton->setEnabled(false);
}

void CValidateUrlAction::onProxySettings()
{
    qDebug().noquote() << "CValidateUrlAction::onProxySettings(" + m_sSignal + ") begin";
    QPointer<CValidateUrlAction> self(this);
    QPointer<QtDownloader::ProxyDialog> dialog = new QtDownloader::ProxyDialog(m_pDialog);
    dialog->setWindowTitle(tr("Proxy Settings"));
    dialog->SetProxyHost(m_sProxyHost);
    dialog->SetProxyPort(m_nProxyPort);
    dialog->SetUsername(m_sProxyUser);
    dialog->SetPassword(m_sProxyPassword);
    if (!m_sProxyHost.isEmpty())
        dialog->SetSelectedProxy(QtDownloader::ProxyHandler::Preferences);
    else if (m_bDirectConnection)
        dialog->SetSelectedProxy(QtDownloader::ProxyHandler::None);
    else
        dialog->SetSelectedProxy(QtDownloader::ProxyHandler::System);
    const int answer = dialog->exec();
    if (self && dialog && answer == QDialog::Accepted)
    {
        switch (dialog->GetSelectedProxy())
        {
        case QtDownloader::ProxyHandler::System:
            m_sProxyHost.clear();
            m_nProxyPort = 0;
            m_sProxyUser.clear();
            m_sProxyPassword.clear();
            m_bDirectConnection = false;
            break;
        case QtDownloader::ProxyHandler::None:
            // A host typed before switching to "No proxy" must not become the proxy.
            m_sProxyHost.clear();
            m_nProxyPort = 0;
            m_sProxyUser.clear();
            m_sProxyPassword.clear();
            m_bDirectConnection = true;
            break;
        default:
            m_sProxyHost = dialog->GetProxyHost();
            m_nProxyPort = dialog->GetProxyPort();
            m_sProxyUser = dialog->GetUsername();
            m_sProxyPassword = dialog->GetPassword();
            m_bDirectConnection = false;
            break;
        }
    }
    delete dialog;
    if (self)
        qDebug().noquote() << "CValidateUrlAction::onProxySettings(" + m_sSignal + ") end";
}

void CValidateUrlAction::onProxyAuthenticationRequired(const QNetworkProxy& proxy,
                                                       QAuthenticator* authenticator)
{
    qDebug().noquote() << "CValidateUrlAction::onProxyAuthenticationRequired(" + proxy.hostName() +
                              ") begin";
    QPointer<CValidateUrlAction> self(this);
    const std::shared_ptr<QtDownloader::ProxyHandler> handler =
        QtDownloader::ProxyHandler::Create(QtDownloader::ProxyHandler::PreferencesOrSystem);
    // Declining once answers for every later check of this run: the user has
    // said there are no credentials to give.
    if (m_bPromptDeclined)
    {
        qDebug().noquote() << "CValidateUrlAction::onProxyAuthenticationRequired(" +
                                  proxy.hostName() + ") declined earlier";
        return;
    }
    const bool accepted = QtDownloader::ProxyDialog::HandleProxyAuthentication(
        nullptr, handler.get(), proxy, authenticator);
    if (!self || !authenticator)
        return;
    m_bPromptDeclined = !accepted;
    m_sProxyUser = authenticator->user();
    m_sProxyPassword = authenticator->password();
    for (const QPointer<ValidateWebResource>& check : qAsConst(m_lPending))
    {
        if (check)
            check->setProxyInformation(m_sProxyHost, m_nProxyPort, m_sProxyUser, m_sProxyPassword);
    }
    qDebug().noquote() << "CValidateUrlAction::onProxyAuthenticationRequired(" + proxy.hostName() +
                              ") end";
}

void CValidateUrlAction::onLinkActivated(const QString& link)
{
    QDesktopServices::openUrl(QUrl(link));
}
