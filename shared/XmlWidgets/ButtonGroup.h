#pragma once

#include "XmlContainer.h"

#include <QButtonGroup>

// An exclusive group of radio buttons ("buttongroup") with no widget of its own:
// the buttons belong to, and are laid out by, the group's parent container. Its
// value is the value of the checked button.
class CButtonGroup : public QButtonGroup, public CXmlContainer
{
    Q_OBJECT

public:
    CButtonGroup(CXmlObject* parentObject, QWidget* parentWidget);
    ~CButtonGroup() override;

    // The checked button's value; with none checked, the group's default.
    QString getValue() const override;
    // Checks the first button (in the order added) whose value equals value.
    void setValue(const QString& value) override;
    CValueRule valueRule() const override;
    QWidget* widget() const override;

    // "radiobutton" only, created by the parent container.
    CXmlWidget* createWidget(const QString& name, QString& error) override;
    // Joins the group, then is placed by the parent container.
    int addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                  QString& error) override;

private:
    CXmlContainer* parentContainer() const;
};
