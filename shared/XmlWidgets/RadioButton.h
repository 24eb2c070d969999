#pragma once

#include "XmlWidget.h"

#include <QRadioButton>

// One choice of a button group ("radiobutton"); its value is its "value" text,
// whether it is checked or not.
class CRadioButton : public QRadioButton, public CXmlWidget
{
    Q_OBJECT

public:
    CRadioButton(CXmlObject* parentObject, QWidget* parentWidget);
    ~CRadioButton() override;

    // Common attributes, then "title" (translated) and "value".
    int parse(TiXmlElement* element, QString& error) override;
    // "click", "check", "uncheck".
    bool performAction(const QString& slot, const CActionItem* action) override;
    // Replaces the value text; does not check the button.
    void setValue(const QString& value) override;
    QString getValue() const override;
    // Empty while not checked.
    bool isEmpty() const override;
    // "checked", "unchecked".
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    QWidget* widget() const override;

signals:
    void mouseEnterWidget(QString qsToolTip);
    void mouseLeaveWidget();
    void checked();
    void unchecked();

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private slots:
    void onToggled(bool bChecked);

private:
    QString m_sValue;
};
