#include "Page.h"

#include "Container.h"
#include "PageHolder.h"

#include <QLabel>
#include <QVBoxLayout>
#include <tinyxml.h>

CPage::CPage(CXmlObject* parentObject, QWidget* parentWidget)
    : QScrollArea(parentWidget), CXmlContainer(parentObject)
{
    QWidget* content = new QWidget(this);
    content->setObjectName(QStringLiteral("pagescrollarea"));
    m_pPageLayout = new QVBoxLayout(content);
    m_pPageLayout->setContentsMargins(0, 0, 0, 0);
    m_pPageContainer = new CContainer(this, content);
    m_pPageContainer->setObjectName(QStringLiteral("pagecontainer"));
    m_pPageLayout->addWidget(m_pPageContainer, 1);
    setWidget(content);
    setWidgetResizable(true);
}

CPage::~CPage() = default;

int CPage::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlContainer::parse(element, error);
    if (result != ParseSuccess)
        return result;
    if (const char* title = element->Attribute("title"))
        setWindowTitle(translate(title));
    // Style sheets address both the content widget and the page container by this name.
    widget()->setObjectName(QStringLiteral("pagescrollarea"));
    QScrollArea::setObjectName(m_sName);
    widget()->show();
    return ParseSuccess;
}

bool CPage::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("setpage"))
    {
        if (CPageHolder* holder = pageHolder())
            holder->setActivePage(this);
        return true;
    }
    return CXmlContainer::performAction(slot, action);
}

QWidget* CPage::widget() const
{
    return m_pPageContainer ? m_pPageContainer->widget() : nullptr;
}

void CPage::setWindowTitle(const QString& title)
{
    QScrollArea::setWindowTitle(title);
    // A page has one heading: a second title replaces the text of the first.
    if (QLayoutItem* first = m_pPageLayout->itemAt(0))
    {
        QLabel* heading = qobject_cast<QLabel*>(first->widget());
        if (heading && heading->objectName() == QLatin1String("h1"))
        {
            heading->setText(title);
            return;
        }
    }
    QLabel* heading = new QLabel(title, QScrollArea::widget());
    heading->setObjectName(QStringLiteral("h1"));
    m_pPageLayout->insertWidget(0, heading);
}

CPageHolder* CPage::pageHolder() const
{
    return dynamic_cast<CPageHolder*>(m_pParent);
}
