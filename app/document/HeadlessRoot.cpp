#include "HeadlessRoot.h"

#include "app/index/PageIndex.h"
#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace
{
QString severityName(int severity)
{
    switch (severity)
    {
    case CActionItem::Warning:
        return QStringLiteral("warning");
    case CActionItem::Error:
        return QStringLiteral("error");
    default:
        return QStringLiteral("information");
    }
}
} // namespace

CHeadlessRoot::CHeadlessRoot(QWidget* parent) : QWidget(parent), CDocumentRoot(nullptr)
{
    // Never shown: the tree is built for its values and rules only.
    setAttribute(Qt::WA_DontShowOnScreen);
    m_pPageIndex = new CPageIndex(this, this);
    m_pPageHolder = new CPageHolder(this, this);
    keepBuiltState({this, m_pPageHolder, m_pPageIndex});
}

CHeadlessRoot::~CHeadlessRoot()
{
    // The tree goes while this root is whole.
    setLoading(true);
    delete m_pPageIndex;
    m_pPageIndex = nullptr;
    delete m_pPageHolder;
    m_pPageHolder = nullptr;
}

QWidget* CHeadlessRoot::widget() const
{
    return const_cast<CHeadlessRoot*>(this);
}

void CHeadlessRoot::runValidateActions()
{
    m_report = CCheckReport();
    bool allowed = true;
    for (CActionItem* action : validateActions())
    {
        CCheckReport::CCheck check;
        check.m_sSlot = action->slotName();
        check.m_sWidget = action->targetNames();
        m_pCurrent = &check;
        setPublishAllowed(true);
        // An action reports once its nested actions are done; a step that waits
        // for a program is never run here, so the wait is short. It is bounded all
        // the same.
        const QPointer<CActionItem> guard(action);
        bool done = false;
        QEventLoop loop;
        const QMetaObject::Connection connection =
            QObject::connect(action, &CActionItem::actionDone, &loop,
                             [&]
                             {
                                 done = true;
                                 loop.quit();
                             });
        action->doAction();
        if (!done && guard)
        {
            QTimer::singleShot(m_iTimeoutMs + 5000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        QObject::disconnect(connection);
        if (!done)
        {
            check.m_bPassed = false;
            check.m_lMessages << tr("The check did not finish.");
        }
        if (!publishAllowed())
        {
            check.m_bPassed = false;
            check.m_lMessages << tr("The publish is canceled.");
        }
        for (const CCheckReport::CUrl& url : qAsConst(check.m_lUrls))
            check.m_bPassed = check.m_bPassed && url.m_bPassed;
        m_pCurrent = nullptr;
        allowed = allowed && check.m_bPassed;
        m_report.m_lChecks.append(check);
    }
    setPublishAllowed(allowed);
}

void CHeadlessRoot::note(const QString& message)
{
    if (m_pCurrent)
        m_pCurrent->m_lMessages << message;
    else
        m_lOtherMessages << message;
}

void CHeadlessRoot::actionMessage(const CActionItem& /*action*/, int severity, const QString& title,
                                  const QString& text)
{
    note(QStringLiteral("%1: %2: %3").arg(severityName(severity), title, text));
}

bool CHeadlessRoot::actionQuestion(const CActionItem& /*action*/, int /*severity*/,
                                   const QString& title, const QString& text, bool defaultYes)
{
    note(tr("question: %1: %2 Answered %3 (the definition's default).")
             .arg(title, text, defaultYes ? tr("yes") : tr("no")));
    return defaultYes;
}

bool CHeadlessRoot::actionMayRun(const CActionItem& /*action*/, const QString& slot)
{
    note(tr("The action \"%1\" cannot run without a window; the check fails.").arg(slot));
    if (m_pCurrent)
        m_pCurrent->m_bPassed = false;
    return false;
}

void CHeadlessRoot::actionWebCheck(const CActionItem& /*action*/, const QString& name,
                                   const QString& url, bool passed, const QString& reason)
{
    CCheckReport::CUrl result;
    result.m_sName = name;
    result.m_sUrl = url;
    result.m_bPassed = passed;
    result.m_sReason = reason;
    if (m_pCurrent)
        m_pCurrent->m_lUrls.append(result);
    else
        m_lOtherMessages
            << QStringLiteral("%1 %2: %3").arg(passed ? tr("ok") : tr("failed"), url, reason);
}
