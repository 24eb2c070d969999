#pragma once

#include "XmlWidget.h"

#include <QPushButton>

// A push button ("pushbutton"); it has no value, and a click marks the document
// changed.
class CButton : public QPushButton, public CXmlWidget
{
    Q_OBJECT

public:
    CButton(CXmlObject* parentObject, QWidget* parentWidget);
    ~CButton() override;

    // Common attributes, then "default" ("t"/"true" makes it the default button)
    // and the caption from "title".
    int parse(TiXmlElement* element, QString& error) override;
    // "click".
    bool performAction(const QString& slot, const CActionItem* action) override;
    // "clicked".
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    QWidget* widget() const override;

signals:
    void mouseEnterWidget(QString qsToolTip);
    void mouseLeaveWidget();

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
};
