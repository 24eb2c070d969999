#pragma once

#include "IndexLink.h"

// A row of the page index that holds further rows ("indexlink" and "indexgroup").
class CIndexGroup : public CIndexLink
{
public:
    explicit CIndexGroup(CXmlObject* parentObject);
    ~CIndexGroup() override;

    int parse(TiXmlElement* element, QString& error) override;
    CXmlWidget* createWidget(const QString& type, QString& error) override;
    // Appends the child's row below this group's item.
    int addWidget(const QString& type, CXmlWidget* widget, TiXmlElement* element,
                  QString& error) override;

private:
    static QString wrongChildError(const QString& type);
};
