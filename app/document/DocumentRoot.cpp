#include "DocumentRoot.h"

#include "app/index/PageIndex.h"
#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTimer>
#include <QWidget>
#include <tinyxml.h>

CDocumentRoot::CDocumentRoot(CXmlContainer* parentContainer) : CXmlContainer(parentContainer) {}

CDocumentRoot::~CDocumentRoot()
{
    for (const QPointer<QWidget>& page : qAsConst(m_lRetiredPages))
        delete page.data();
    if (CXmlContainer::m_pStaticValidator == this)
        CXmlContainer::m_pStaticValidator = nullptr;
}

int CDocumentRoot::parse(TiXmlElement* element, QString& error)
{
    const char* version = element ? element->Attribute("version") : nullptr;
    if (!version || !*version)
    {
        error = QCoreApplication::translate("CAdminPage",
                                            "Root element requires \"version\" attribute");
        return ParseError;
    }
    const int result = CXmlContainer::parse(element, error);
    if (result != ParseSuccess)
        return result;
    const char* icon = element->Attribute("icon");
    if (icon && *icon)
        showDocumentIcon(QString::fromUtf8(icon));
    m_sDocumentTitle = translate(element->Attribute("title"));
    documentTitleChanged();
    return ParseSuccess;
}

int CDocumentRoot::validateXml(TiXmlElement* element, QString& /*error*/)
{
    if (!element)
        return ParseSuccess;
    int result = ParseSuccess;
    const QString packages = convertAttribute(element->Attribute("package"));
    if (!packages.isEmpty())
    {
        if (!m_sPackageOS.isEmpty())
        {
            // "mac, linux" names both: parts are trimmed before they are compared.
            const QStringList parts =
                packages.toLower().split(QRegularExpression(QStringLiteral("\\s*,")));
            bool found = false;
            for (const QString& part : parts)
                found = found || (!part.trimmed().isEmpty() && part.trimmed() == m_sPackageOS);
            result = found ? ParseSuccess : ParseSkip;
        }
        else
        {
            result = isSupportedOS(packages) ? ParseSuccess : ParseSkip;
        }
    }
    const QString flag = QString::fromUtf8(element->Attribute("showflag")).toLower();
    if (!flag.isEmpty() && !m_lOptions.contains(flag))
        result = ParseSkip;
    return result;
}

CXmlWidget* CDocumentRoot::createWidget(const QString& type, QString& error)
{
    if (type == QLatin1String("index"))
        return pageIndex();
    if (type == QLatin1String("pageholder"))
        return pageHolder();
    return CXmlContainer::createWidget(type, error);
}

int CDocumentRoot::addWidget(const QString& type, CXmlWidget* widget, TiXmlElement* element,
                             QString& error)
{
    if (type == QLatin1String("index") || type == QLatin1String("pageholder"))
        return ParseSuccess;
    return CXmlContainer::addWidget(type, widget, element, error);
}

bool CDocumentRoot::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("quit"))
    {
        quitRequested();
        return true;
    }
    if (slot == QLatin1String("cancelpublish"))
    {
        m_bPublishAllowed = false;
        return true;
    }
    return CXmlWidget::performAction(slot, action);
}

int CDocumentRoot::initSignal(const QString& signal, const CActionItem* action,
                              TiXmlElement* /*element*/, QString& /*error*/)
{
    if (signal == QLatin1String("validate") && action)
        m_lValidateActions.append(const_cast<CActionItem*>(action));
    return ParseSuccess;
}

QList<CActionItem*> CDocumentRoot::validateActions() const
{
    QList<CActionItem*> actions;
    for (const QPointer<CActionItem>& action : m_lValidateActions)
    {
        if (action)
            actions.append(action.data());
    }
    return actions;
}

void CDocumentRoot::runValidateActions()
{
    for (CActionItem* action : validateActions())
        action->doAction();
}

void CDocumentRoot::changeNotification(CXmlObject* pChild, CXmlObject* pChangedObject)
{
    if (m_bLoading)
        return;
    CXmlObject::changeNotification(pChild, pChangedObject);
    documentChanged(pChangedObject);
}

void CDocumentRoot::keepBuiltState(const QList<QWidget*>& widgets)
{
    m_lBuiltWidgets.clear();
    for (QWidget* built : widgets)
        m_lBuiltWidgets.append({built, built->objectName(), built->styleSheet(), built->isEnabled(),
                                built->isHidden()});
    m_iBuiltPages = pageHolder() ? pageHolder()->count() : 0;
    m_iBuiltRows = pageIndex() ? pageIndex()->indexModel()->rowCount() : 0;
}

void CDocumentRoot::deleteRetiredPages()
{
    if (m_lRetiredPages.isEmpty())
        return;
    if (CActionItem::runningActions() > 0)
    {
        QTimer::singleShot(50, pageHolder(), [this] { deleteRetiredPages(); });
        return;
    }
    const QList<QPointer<QWidget>> pages = m_lRetiredPages;
    m_lRetiredPages.clear();
    for (const QPointer<QWidget>& page : pages)
        delete page.data();
}

void CDocumentRoot::clearDocument()
{
    m_lValidateActions.clear();
    m_sDocumentTitle.clear();
    if (CPageIndex* const index = pageIndex())
    {
        QStandardItemModel* const model = index->indexModel();
        if (model->rowCount() > m_iBuiltRows)
            model->removeRows(m_iBuiltRows, model->rowCount() - m_iBuiltRows);
    }
    CPageHolder* const holder = pageHolder();
    for (int i = holder ? holder->count() - 1 : -1; i >= m_iBuiltPages; --i)
    {
        QWidget* const page = holder->QStackedWidget::widget(i);
        holder->removeWidget(page);
        CPage* const xmlPage = qobject_cast<CPage*>(page);
        if (CActionItem::runningActions() == 0 || !xmlPage)
        {
            delete page;
            continue;
        }
        // An action's dialog is open (the document is being replaced from its event
        // loop): the widget that started the action is still in its handler. The
        // page leaves the document now and goes once every action has returned.
        page->hide();
        xmlPage->detachFromParent();
        page->setParent(nullptr);
        m_lRetiredPages.append(page);
    }
    if (!m_lRetiredPages.isEmpty())
        QTimer::singleShot(0, holder, [this] { deleteRetiredPages(); });
    // The root, the holder and the index outlive the document: what its definition
    // put on them (actions, attributes, a layout, a linked page) goes with it.
    discardDefinition();
    if (holder)
        holder->discardDefinition();
    if (pageIndex())
        pageIndex()->discardDefinition();
    for (const CBuiltWidget& built : qAsConst(m_lBuiltWidgets))
    {
        if (!built.widget)
            continue;
        built.widget->setObjectName(built.objectName);
        built.widget->setStyleSheet(built.styleSheet);
        built.widget->setEnabled(built.enabled);
        if (built.widget != widget())
            built.widget->setHidden(built.hidden);
    }
    if (holder)
        holder->setWindowIcon(QIcon());
    showDocumentIcon(QString());
    documentTitleChanged();
    documentCleared();
}

void CDocumentRoot::showDocumentIcon(const QString& /*path*/) {}

void CDocumentRoot::documentTitleChanged() {}

void CDocumentRoot::documentCleared() {}

void CDocumentRoot::documentChanged(CXmlObject* /*source*/) {}

void CDocumentRoot::quitRequested() {}
