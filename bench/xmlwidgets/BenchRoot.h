#pragma once

#include "shared/XmlWidgets/PageHolder.h"
#include "shared/XmlWidgets/XmlContainer.h"

#include <QBoxLayout>
#include <QWidget>

// Stands in for the main window: the root with its page holder made in advance,
// so that a "pageholder" element fills that holder as it does in the program.
class CBenchRoot : public QWidget, public CXmlContainer
{
public:
    CBenchRoot() : CXmlContainer(nullptr), m_pHolder(new CPageHolder(this, this)) {}

    QWidget* widget() const override { return const_cast<CBenchRoot*>(this); }
    CXmlWidget* createWidget(const QString& name, QString& error) override
    {
        if (name == QLatin1String("pageholder"))
            return m_pHolder;
        return CXmlContainer::createWidget(name, error);
    }
    int addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                  QString& error) override
    {
        if (name == QLatin1String("pageholder"))
        {
            m_pBoxLayout->addWidget(m_pHolder);
            return 0;
        }
        return CXmlContainer::addWidget(name, object, element, error);
    }

private:
    CPageHolder* m_pHolder;
};
