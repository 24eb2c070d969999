#include "StandInRoot.h"

#include "shared/XmlWidgets/PageHolder.h"

namespace TestSupport
{

CStandInRoot::CStandInRoot(bool holderInAdvance) : CXmlContainer(nullptr)
{
    if (holderInAdvance)
        m_pHolder = new CPageHolder(this, this);
}

CStandInRoot::~CStandInRoot() = default;

QWidget* CStandInRoot::widget() const
{
    return const_cast<CStandInRoot*>(this);
}

CXmlWidget* CStandInRoot::createWidget(const QString& name, QString& error)
{
    if (m_pHolder && name == QLatin1String("pageholder"))
        return m_pHolder;
    return CXmlContainer::createWidget(name, error);
}

int CStandInRoot::addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                            QString& error)
{
    // The holder made in advance is already this widget's child.
    if (m_pHolder && name == QLatin1String("pageholder"))
        return 0;
    return CXmlContainer::addWidget(name, object, element, error);
}

void CStandInRoot::onMouseOverWidgetImpl(const QString& text)
{
    m_lMouseOverTexts.append(text);
}

void CStandInRoot::changeNotification(CXmlObject* child, CXmlObject* source)
{
    m_lNotificationSources.append(source);
    CXmlContainer::changeNotification(child, source);
}

} // namespace TestSupport
