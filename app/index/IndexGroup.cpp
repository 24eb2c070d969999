#include "IndexGroup.h"

#include <QCoreApplication>
#include <tinyxml.h>

CIndexGroup::CIndexGroup(CXmlObject* parentObject) : CIndexLink(parentObject) {}

CIndexGroup::~CIndexGroup() = default;

int CIndexGroup::parse(TiXmlElement* element, QString& error)
{
    return CIndexLink::parse(element, error);
}

QString CIndexGroup::wrongChildError(const QString& type)
{
    return QCoreApplication::translate(
               "CIndexGroup",
               "Widget \"indexgroup\" can only contain \"indexlink\" and \"indexgroup\" "
               "elements, not %1.")
        .arg(type);
}

CXmlWidget* CIndexGroup::createWidget(const QString& type, QString& error)
{
    if (type == QLatin1String("indexlink"))
        return new CIndexLink(this);
    if (type == QLatin1String("indexgroup"))
        return new CIndexGroup(this);
    error = wrongChildError(type);
    return nullptr;
}

int CIndexGroup::addWidget(const QString& type, CXmlWidget* widget, TiXmlElement* /*element*/,
                           QString& error)
{
    CIndexLink* const link = dynamic_cast<CIndexLink*>(widget);
    if ((type != QLatin1String("indexlink") && type != QLatin1String("indexgroup")) || !link)
    {
        error = wrongChildError(type);
        return ParseError;
    }
    item()->appendRow(link->item());
    return ParseSuccess;
}
