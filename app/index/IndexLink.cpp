#include "IndexLink.h"

#include "shared/XmlWidgets/Page.h"

#include <QCoreApplication>
#include <QFont>
#include <QWidget>
#include <tinyxml.h>

namespace
{
const int BoldWeight = 75;
}

CIndexLink::CIndexLink(CXmlObject* parentObject) : QStandardItem(), CXmlContainer(parentObject)
{
    qRegisterMetaType<CIndexLink*>("CIndexLink*");
    setFlags(Qt::ItemIsEnabled);
}

CIndexLink::~CIndexLink() = default;

void CIndexLink::parseLinkAttributes(TiXmlElement* element)
{
    m_sPageName = convertAttribute(element->Attribute("page"));
    setText(translate(element->Attribute("title")));
}

int CIndexLink::parse(TiXmlElement* element, QString& error)
{
    parseLinkAttributes(element);
    return CXmlContainer::parse(element, error);
}

int CIndexLink::initActions(QString& error)
{
    QStandardItem* const row = item();
    row->setData(QVariant::fromValue(this), LinkRole);
    row->setFlags(Qt::ItemIsEnabled);
    if (!m_sPageName.isEmpty())
    {
        CXmlWidget* const root = rootWidget();
        QWidget* const rootWindow = root ? root->widget() : nullptr;
        CPage* found = nullptr;
        if (rootWindow)
        {
            const QList<CPage*> pages = rootWindow->findChildren<CPage*>(m_sPageName);
            if (!pages.isEmpty())
                found = pages.first();
        }
        if (!found)
        {
            error = QCoreApplication::translate("CIndexLink",
                                                "Could not find page named \"%1\" to index to.")
                        .arg(m_sPageName);
            return ParseError;
        }
        m_pPage = found;
        row->setText(found->windowTitle());
        row->setData(found->name(), PageNameRole);
    }
    return CXmlObject::initActions(error);
}

void CIndexLink::discardDefinition()
{
    CXmlContainer::discardDefinition();
    m_sPageName.clear();
    m_pPage = nullptr;
    setText(QString());
    QStandardItem* const row = item();
    if (row != this)
    {
        row->setText(QString());
        row->setData(QVariant(), PageNameRole);
    }
}

void CIndexLink::changeNotification(CXmlObject* child, CXmlObject* source)
{
    QStandardItem* const row = item();
    QFont font = row->font();
    font.setWeight(BoldWeight);
    row->setFont(font);
    CXmlObject::changeNotification(child, source);
}

QWidget* CIndexLink::widget() const
{
    return nullptr;
}

QStandardItem* CIndexLink::item()
{
    return this;
}

CIndexLink* CIndexLink::fromItem(const QStandardItem* item)
{
    return item ? item->data(LinkRole).value<CIndexLink*>() : nullptr;
}
