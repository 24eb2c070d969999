#pragma once

#include "XmlWidget.h"

#include <QLineEdit>

// A one-line text field ("lineedit"); its value is its text.
class CLineEdit : public QLineEdit, public CXmlWidget
{
    Q_OBJECT

public:
    CLineEdit(CXmlObject* parentObject, QWidget* parentWidget);
    ~CLineEdit() override;

    // Common attributes, then "mask" (a Qt input mask). Without a mask, a field that
    // has no validator yet gets the control-character filter.
    int parse(TiXmlElement* element, QString& error) override;
    // "clear".
    bool performAction(const QString& slot, const CActionItem* action) override;
    void setValue(const QString& value) override;
    QString getValue() const override;
    // As typed: the validator's clean-up and the input mask apply, and the mask's
    // letter case stands; anything else the field would change or not accept
    // refuses the value. An empty value clears the field.
    ValueFit offerValue(const QString& value, QString* reason = nullptr) override;
    CValueRule valueRule() const override;
    // "textedited", "textchanged".
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    QWidget* widget() const override;

signals:
    void mouseEnterWidget(QString qsToolTip);
    void mouseLeaveWidget();
    // Both are raised on every change of the text, typed or set.
    void textChanged();
    void textEdited();

protected:
    // Why value is not taken, for the administrator.
    virtual QString refusal(const QString& value) const;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private slots:
    void onTextChanged();
};
