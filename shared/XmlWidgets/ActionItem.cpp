#include "ActionItem.h"
#include "ActionHost.h"

#include "CommandThread.h"
#include "XmlWidget.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <tinyxml.h>

namespace
{
// "t"/"true" and "f"/"false" in any letter case; absent or empty counts as false.
bool readFlag(const QString& value, bool& flag)
{
    flag = false;
    return value.isEmpty() || CXmlObject::parseBoolean(value, flag);
}

QMessageBox::Icon iconFor(CActionItem::MessageBoxSeverity severity)
{
    switch (severity)
    {
    case CActionItem::Error:
        return QMessageBox::Critical;
    case CActionItem::Warning:
        return QMessageBox::Warning;
    case CActionItem::Information:
        break;
    }
    return QMessageBox::Information;
}

// A phase with several nested actions moves on once, when the last of them reports;
// a report with nothing pending (a phase started without nested actions) moves on too.
bool lastToReport(int& pending)
{
    return pending <= 0 || --pending == 0;
}
} // namespace

CActionItem::CActionItem(CXmlObject* parent)
    : CXmlObject(parent), m_bResult(true), m_bHasValue(false), m_bCmdWait(false),
      m_bCmdElevate(false), m_MsgSeverity(Information), m_iPendingPre(0), m_iPendingSuccess(0),
      m_iPendingFailure(0), m_iPendingPost(0)
{
}

CActionItem::~CActionItem()
{
    // A command still running keeps going on its own thread and deletes itself when
    // the program is done; only its report to this action must not arrive.
    if (m_pCommandThread)
        disconnect(m_pCommandThread, nullptr, this, nullptr);
    // Our own thread only runs when someone started it directly; a QThread must not
    // be destroyed while it runs.
    if (isRunning())
        wait();
}

int CActionItem::parse(TiXmlElement* element, QString& error)
{
    const QString signal = QString::fromUtf8(element->Attribute("signal"));
    qDebug().noquote() << "CActionItem::parse(" + signal + ") begin";
    const int result = parseAction(element, error);
    qDebug().noquote() << "CActionItem::parse(" + signal + ") end";
    return result;
}

int CActionItem::parseAction(TiXmlElement* element, QString& error)
{
    int result = CXmlObject::parse(element, error);
    if (result != 0)
        return result;

    const char* widgetAttribute = element->Attribute("widget");
    m_sSignal = convertAttribute(element->Attribute("signal"));
    m_sSlot = convertAttribute(element->Attribute("slot"));

    if (m_sSignal.isEmpty())
    {
        error = tr("Missing signal attribute in action");
        return 1;
    }
    if (m_sSlot.isEmpty())
    {
        error = tr("Missing slot attribute in action: %1").arg(m_sSignal);
        return 1;
    }

    if (m_sSlot == QLatin1String("isempty") || m_sSlot == QLatin1String("equals"))
    {
        result =
            setWidgetAction(element, m_sSignal, m_sSlot, convertAttribute(widgetAttribute), error);
        connect(this, &CActionItem::internalActionDone, this, &CActionItem::mainActionDone);
        return result;
    }

    if (m_sSlot == QLatin1String("browsefile") || m_sSlot == QLatin1String("browsedir"))
    {
        const QString title = captionAttribute(element, "title");
        const QString filter = convertAttribute(element->Attribute("filter"));
        const QString widget = convertAttribute(widgetAttribute);
        if (title.isEmpty())
        {
            error = tr("Missing title attribute in action: %1").arg(m_sSignal);
            return 1;
        }
        if (widget.isEmpty())
        {
            error = tr("Missing widget attribute in action: %1").arg(m_sSignal);
            return 1;
        }
        if (registerWithOwner(error) != 0)
            return 1;
        m_sSource = widget;
        m_sCaption = title;
        m_sFilter = filter;
        connect(this, &CActionItem::internalActionDone, this, &CActionItem::mainActionDone);
        return 0;
    }

    if (widgetAttribute)
        return setWidgetAction(element, m_sSignal, m_sSlot, convertAttribute(widgetAttribute),
                               error);

    if (m_sSlot == QLatin1String("cmd"))
    {
        const QString cmd = convertFileAttribute(element->Attribute("cmd"));
        const QString wait = convertAttribute(element->Attribute("wait"));
        const QString elevate = convertAttribute(element->Attribute("elevate"));
        bool bWait = false;
        bool bElevate = false;
        if (!readFlag(wait, bWait))
        {
            error =
                tr("Incorrect value for \"wait\" attribute in object \"%1\": %2").arg(name(), wait);
            return 1;
        }
        if (!readFlag(elevate, bElevate))
        {
            error = tr("Incorrect value for \"elevate\" attribute in object \"%1\": %2")
                        .arg(name(), elevate);
            return 1;
        }
        QStringList args;
        for (const TiXmlAttribute* attribute = element->FirstAttribute(); attribute;
             attribute = attribute->Next())
        {
            if (QString::fromUtf8(attribute->Name()).toLower() == QLatin1String("arg"))
                args.append(convertAttribute(attribute->Value()));
        }
        if (cmd.isEmpty())
        {
            error = tr("Action missing cmd attribute: signal=\"%1\"").arg(m_sSignal);
            return 1;
        }
        if (registerWithOwner(error) != 0)
            return 1;
        m_sCmd = cmd;
        m_sCmdArgs = args;
        m_bCmdWait = bWait;
        m_bCmdElevate = bElevate;
        connect(this, &CActionItem::internalActionDone, this, &CActionItem::mainActionDone);
        return 0;
    }

    if (m_sSlot == QLatin1String("open"))
    {
        if (const char* url = element->Attribute("url"))
        {
            const QString address = convertAttribute(url);
            if (address.isEmpty())
            {
                error = tr("Action missing url attribute: signal=\"%1\"").arg(m_sSignal);
                return 1;
            }
            m_sUrl = QUrl(address, QUrl::TolerantMode);
        }
        else if (const char* file = element->Attribute("file"))
        {
            const QString path = convertAttribute(file);
            if (path.isEmpty())
            {
                error = tr("Action missing file attribute: signal=\"%1\"").arg(m_sSignal);
                return 1;
            }
            m_sFile = path;
        }
        else
        {
            error = tr("Missing file or url attribute for action: %1").arg(m_sSignal);
            return 1;
        }
        if (registerWithOwner(error) != 0)
            return 1;
        connect(this, &CActionItem::internalActionDone, this, &CActionItem::mainActionDone);
        return 0;
    }

    if (m_sSlot == QLatin1String("messagebox") || m_sSlot == QLatin1String("question"))
    {
        const QString answer = convertAttribute(element->Attribute("defaultAnswer"));
        if (!answer.isEmpty() && answer != QLatin1String("yes") && answer != QLatin1String("no"))
        {
            error =
                tr("Invalid attribute defaultAnswer=\"%1\" in action: %2").arg(answer, m_sSignal);
            return 1;
        }
        const QString severity = convertAttribute(element->Attribute("severity")).toLower();
        MessageBoxSeverity level = Information;
        if (severity == QLatin1String("information"))
            level = Information;
        else if (severity == QLatin1String("warning"))
            level = Warning;
        else if (severity == QLatin1String("error"))
            level = Error;
        else
        {
            error = tr("Invalid attribute severity=\"%1\" in action: %2").arg(severity, m_sSignal);
            return 1;
        }
        const QString title = captionAttribute(element, "title");
        const QString text = captionAttribute(element, "msg");
        if (text.isEmpty())
        {
            error = tr("Missing msg attribute in action: %1").arg(m_sSignal);
            return 1;
        }
        if (registerWithOwner(error) != 0)
            return 1;
        m_sDefaultAnswer = answer;
        m_MsgSeverity = level;
        m_sMsgTitle = title;
        m_sMsgText = text;
        connect(this, &CActionItem::internalActionDone, this, &CActionItem::mainActionDone);
        return 0;
    }

    error = tr("Unknown action slot:\"%1\" with signal:\"%2\"").arg(m_sSlot, m_sSignal);
    return 1;
}

int CActionItem::setWidgetAction(TiXmlElement* element, const QString& signal, const QString& slot,
                                 const QString& widget, QString& error)
{
    if (signal.isEmpty())
    {
        error = tr("Action missing signal attribute: signal=\"%1\", slot=\"%2\", widget=\"%3\"")
                    .arg(signal, slot, widget);
        return 1;
    }
    if (slot.isEmpty())
    {
        error = tr("Action missing slot attribute: signal=\"%1\", slot=\"%2\", widget=\"%3\"")
                    .arg(signal, slot, widget);
        return 1;
    }
    if (widget.isEmpty())
    {
        error = tr("Action missing widget attribute: signal=\"%1\", slot=\"%2\", widget=\"%3\"")
                    .arg(signal, slot, widget);
        return 1;
    }
    const char* value = element->Attribute("value");
    if (slot == QLatin1String("equals") && !value)
    {
        error = tr("Action missing value attribute: signal=\"%1\", slot=\"%2\", widget=\"%3\"")
                    .arg(signal, slot, widget);
        return 1;
    }
    if (!m_pParent)
    {
        error = tr("Action must have a parent: signal=\"%1\", slot=\"%2\"").arg(signal, slot);
        return 1;
    }
    if (registerWithOwner(error) != 0)
        return 1;
    m_sObject = widget;
    if (value)
    {
        m_sValue = convertAttribute(value);
        m_bHasValue = true;
    }
    else if (slot == QLatin1String("setvalue"))
    {
        if (const char* source = element->Attribute("source"))
            m_sSource = convertAttribute(source);
    }
    return 0;
}

int CActionItem::registerWithOwner(QString& error)
{
    if (!m_pParent)
        return 0;
    return m_pParent->initSignal(m_sSignal, this, nullptr, error) == 1 ? 1 : 0;
}

int CActionItem::initSignal(const QString& signal, const CActionItem* action,
                            TiXmlElement* /*element*/, QString& error)
{
    // Nested actions only ever run on behalf of this action, which lives on the GUI
    // thread like they do; the const in the interface is about the sender's view.
    CActionItem* nested = const_cast<CActionItem*>(action);
    if (signal == QLatin1String("pre"))
    {
        m_lPreActions.append(nested);
        connect(this, &CActionItem::preAction, nested, &CActionItem::doAction);
        connect(nested, &CActionItem::actionDone, this, &CActionItem::preActionDone);
    }
    else if (signal == QLatin1String("post"))
    {
        m_lPostActions.append(nested);
        connect(this, &CActionItem::postAction, nested, &CActionItem::doAction);
        connect(nested, &CActionItem::actionDone, this, &CActionItem::postActionDone);
    }
    else if (signal == QLatin1String("success"))
    {
        m_lSuccessActions.append(nested);
        connect(this, &CActionItem::successAction, nested, &CActionItem::doAction);
        connect(nested, &CActionItem::actionDone, this, &CActionItem::successActionDone);
    }
    else if (signal == QLatin1String("failure"))
    {
        m_lFailureActions.append(nested);
        connect(this, &CActionItem::failureAction, nested, &CActionItem::doAction);
        connect(nested, &CActionItem::actionDone, this, &CActionItem::failureActionDone);
    }
    else
    {
        error = tr("Invalid signal: %1").arg(signal);
        return 1;
    }
    return 0;
}

int CActionItem::initActions(QString& error)
{
    if (CXmlObject::initActions(error) == 1)
        return 1;

    int result = 0;
    m_lTargets.clear();
    if (!m_sObject.isEmpty())
    {
        m_lTargets = rootObject()->findNamedObjects(m_sObject);
        if (m_lTargets.isEmpty())
        {
            error = tr("Could not find widget \"%1\"").arg(m_sObject);
            result = 1;
        }
    }
    else
    {
        m_lTargets.append(this);
    }

    m_lSources.clear();
    if (!m_sSource.isEmpty())
    {
        m_lSources = rootObject()->findNamedObjects(m_sSource);
        if (m_lSources.isEmpty())
        {
            error = tr("Could not find widget \"%1\"").arg(m_sSource);
            return 1;
        }
    }
    return result;
}

bool CActionItem::performAction(const QString& slot, const CActionItem* /*action*/)
{
    const bool personal = slot == QLatin1String("cmd") || slot == QLatin1String("open") ||
                          slot == QLatin1String("browsefile") || slot == QLatin1String("browsedir");
    if (personal)
    {
        CActionHost* const answering = host();
        if (answering && !answering->actionMayRun(*this, slot))
        {
            emit internalActionDone(false);
            return true;
        }
    }
    if (slot == QLatin1String("cmd"))
    {
        // A second trigger while the program still runs does not start another run;
        // the running one reports for both.
        if (m_pCommandThread && m_pCommandThread->isRunning())
            return true;
        m_pCommandThread = new CCommandThread(m_sCmd, m_sCmdArgs, m_bCmdWait, m_bCmdElevate);
        connect(m_pCommandThread, &CCommandThread::commandDone, this,
                &CActionItem::internalActionDone, Qt::QueuedConnection);
        m_pCommandThread->start(QThread::InheritPriority);
        return true;
    }
    if (slot == QLatin1String("messagebox"))
        messageBoxAction();
    else if (slot == QLatin1String("question"))
        questionAction();
    else if (slot == QLatin1String("open"))
        openFileAction();
    else if (slot == QLatin1String("browsefile"))
        browseFileAction();
    else if (slot == QLatin1String("browsedir"))
        browseDirectoryAction();
    else
        return false;
    return true;
}

void CActionItem::run()
{
    cmdAction();
}

void CActionItem::cmdAction()
{
    emit internalActionDone(
        CCommandThread::runCommand(m_sCmd, m_sCmdArgs, m_bCmdWait, m_bCmdElevate));
}

void CActionItem::openFileAction()
{
    qDebug().noquote() << "CActionItem::openFileAction(" + m_sSignal + ") begin";
    bool result = false;
    if (!m_sFile.isEmpty())
    {
        const QFileInfo file(m_sFile);
        if (file.exists())
            result = QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
        else
            qDebug().noquote() << "File to open does not exist:" << m_sFile;
    }
    else if (!m_sUrl.isEmpty())
    {
        result = QDesktopServices::openUrl(m_sUrl);
    }
    qDebug().noquote() << "CActionItem::openFileAction(" + m_sSignal + ") end";
    emit internalActionDone(result);
}

void CActionItem::messageBoxAction()
{
    if (CActionHost* const answering = host())
    {
        answering->actionMessage(*this, m_MsgSeverity, messageTitle(), m_sMsgText);
        emit internalActionDone(true);
        return;
    }
    QPointer<CActionItem> self(this);
    QPointer<QMessageBox> box = new QMessageBox(iconFor(m_MsgSeverity), messageTitle(), m_sMsgText,
                                                QMessageBox::Ok, dialogParent());
    box->exec();
    // The box's event loop may have discarded the page tree, and with it the box
    // (a child of the root widget) and this action.
    delete box;
    if (self)
        emit internalActionDone(true);
}

void CActionItem::questionAction()
{
    if (CActionHost* const answering = host())
    {
        emit internalActionDone(
            answering->actionQuestion(*this, m_MsgSeverity, messageTitle(), m_sMsgText,
                                      m_sDefaultAnswer == QLatin1String("yes")));
        return;
    }
    QPointer<CActionItem> self(this);
    QPointer<QMessageBox> box = new QMessageBox(iconFor(m_MsgSeverity), messageTitle(), m_sMsgText,
                                                QMessageBox::Yes | QMessageBox::No, dialogParent());
    box->setDefaultButton(m_sDefaultAnswer == QLatin1String("yes") ? QMessageBox::Yes
                                                                   : QMessageBox::No);
    const bool yes = box->exec() == QMessageBox::Yes && box;
    delete box;
    if (self)
        emit internalActionDone(yes);
}

void CActionItem::browseFileAction()
{
    if (m_lSources.isEmpty())
    {
        // Not resolved yet (the tree is still being built): nothing to fill.
        emit internalActionDone(false);
        return;
    }
    QPointer<CActionItem> self(this);
    CXmlObject* field = m_lSources.first();
    const QString chosen =
        QFileDialog::getOpenFileName(dialogParent(), m_sCaption, field->getValue(), m_sFilter);
    if (!self)
        return;
    if (!chosen.isEmpty())
        field->setValue(QDir::toNativeSeparators(chosen));
    emit internalActionDone(!chosen.isEmpty());
}

void CActionItem::browseDirectoryAction()
{
    if (m_lSources.isEmpty())
    {
        emit internalActionDone(false);
        return;
    }
    QPointer<CActionItem> self(this);
    CXmlObject* field = m_lSources.first();
    // A folder chooser has no use for a file-name filter; it shows folders only.
    const QString chosen =
        QFileDialog::getExistingDirectory(dialogParent(), m_sCaption, field->getValue());
    if (!self)
        return;
    if (!chosen.isEmpty())
        field->setValue(QDir::toNativeSeparators(chosen));
    emit internalActionDone(!chosen.isEmpty());
}

int CActionItem::m_gRunningActions = 0;

int CActionItem::runningActions()
{
    return m_gRunningActions;
}

void CActionItem::doAction()
{
    // A run may discard the page tree with this action (from a dialog's event loop),
    // so the log line at the end must not read a member.
    const QString signal = m_sSignal;
    qDebug().noquote() << "CActionItem::doAction(" + signal + ") begin";
    // Counted while on the stack: the widget whose signal started the run is still
    // inside its handler, so whoever replaces the page tree meanwhile (from a
    // dialog's event loop) must keep the old one until the run has returned.
    struct CFrame
    {
        CFrame() { ++m_gRunningActions; }
        ~CFrame() { --m_gRunningActions; }
        CFrame(const CFrame&) = delete;
        CFrame& operator=(const CFrame&) = delete;
    } frame;
    if (m_bRunning)
    {
        qDebug().noquote() << "CActionItem::doAction(" + signal + ") already running, ignored";
        return;
    }
    m_bRunning = true;
    if (m_lPreActions.isEmpty())
    {
        m_iPendingPre = 0;
        preActionDone();
    }
    else
    {
        m_iPendingPre = m_lPreActions.size();
        emit preAction();
    }
    qDebug().noquote() << "CActionItem::doAction(" + signal + ") end";
}

void CActionItem::preActionDone()
{
    if (!lastToReport(m_iPendingPre))
        return;

    // A target's slot may run an event loop (a dialog) in which the page tree, this
    // action included, is discarded; then nothing of this run may be touched again.
    QPointer<CActionItem> self(this);
    const QList<CXmlObject*> targets = m_lTargets;
    bool result = true;
    bool selfTarget = false;
    for (CXmlObject* target : targets)
    {
        if (!self)
            return;
        if (!result)
            break;
        if (target == this)
            selfTarget = true;
        if (m_sSlot == QLatin1String("setvalue"))
        {
            if (m_bHasValue)
                target->setValue(m_sValue);
            else if (!m_lSources.isEmpty())
                target->setValue(m_lSources.first()->getValue());
            else if (m_pParent)
                target->setValue(m_pParent->getValue());
        }
        else if (m_sSlot == QLatin1String("isempty"))
        {
            result = target->isEmpty();
        }
        else if (m_sSlot == QLatin1String("equals"))
        {
            result = target->getValue() == m_sValue;
        }
        else
        {
            result = target->performAction(m_sSlot, this);
        }
    }
    if (!self)
        return;
    // An action that is its own target reports through internalActionDone once its
    // body is done; if the body refused to start, nothing would ever report.
    if (!selfTarget || !result)
        mainActionDone(result);
}

void CActionItem::mainActionDone(bool res)
{
    m_bResult = res;
    if (res)
        successActionStart();
    else
        failureActionStart();
}

void CActionItem::successActionStart()
{
    if (m_lSuccessActions.isEmpty())
    {
        postActionStart();
        return;
    }
    m_iPendingSuccess = m_lSuccessActions.size();
    emit successAction();
}

void CActionItem::successActionDone()
{
    if (!lastToReport(m_iPendingSuccess))
        return;
    postActionStart();
}

void CActionItem::failureActionStart()
{
    if (m_lFailureActions.isEmpty())
    {
        postActionStart();
        return;
    }
    m_iPendingFailure = m_lFailureActions.size();
    emit failureAction();
}

void CActionItem::failureActionDone()
{
    if (!lastToReport(m_iPendingFailure))
        return;
    postActionStart();
}

void CActionItem::postActionStart()
{
    if (m_lPostActions.isEmpty())
    {
        finishRun();
        return;
    }
    m_iPendingPost = m_lPostActions.size();
    emit postAction();
}

void CActionItem::postActionDone()
{
    if (!lastToReport(m_iPendingPost))
        return;
    finishRun();
}

void CActionItem::finishRun()
{
    m_bRunning = false;
    emit actionDone(m_bResult);
}

QWidget* CActionItem::dialogParent() const
{
    const CXmlWidget* root = dynamic_cast<const CXmlWidget*>(rootObject());
    return root ? root->widget() : nullptr;
}

CActionHost* CActionItem::host() const
{
    return dynamic_cast<CActionHost*>(rootObject());
}

QString CActionItem::messageTitle() const
{
    if (!m_sMsgTitle.isEmpty())
        return m_sMsgTitle;
    const QWidget* parent = dialogParent();
    return parent ? parent->windowTitle() : QString();
}

QString CActionItem::captionAttribute(TiXmlElement* element, const char* name) const
{
    const char* raw = element->Attribute(name);
    if (!raw || !*raw)
        return QString();
    // Look the text up as written, then substitute as for any attribute.
    const QString translated = translate(raw);
    return convertAttribute(translated.toUtf8().constData());
}
