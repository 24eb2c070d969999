#pragma once

#include "XmlWidget.h"

#include <QCheckBox>

// A two-state input ("checkbox"): its value is the check value when checked and
// the uncheck value otherwise.
class CCheckBox : public QCheckBox, public CXmlWidget
{
    Q_OBJECT

public:
    CCheckBox(CXmlObject* parentObject, QWidget* parentWidget);
    ~CCheckBox() override;

    // Common attributes, then "checkvalue", "uncheckvalue" (converted) and "title".
    int parse(TiXmlElement* element, QString& error) override;
    // "check"/"uncheck" set the state silently; "click"/"unclick" click only when
    // that changes the state.
    bool performAction(const QString& slot, const CActionItem* action) override;
    // Checks on the check value, unchecks on the uncheck value, ignores anything else.
    void setValue(const QString& value) override;
    QString getValue() const override;
    CValueRule valueRule() const override;
    // "checked", "unchecked".
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    QWidget* widget() const override;

    const QString& checkValue() const { return m_sCheckValue; }
    const QString& uncheckValue() const { return m_sUncheckValue; }

signals:
    void mouseEnterWidget(QString qsToolTip);
    void mouseLeaveWidget();
    void checked();
    void unchecked();

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private slots:
    void onClicked(bool bChecked);

private:
    QString m_sCheckValue;
    QString m_sUncheckValue;
};
