#pragma once

#include "XmlWidget.h"

#include <QObject>

class CComboBox;

// One choice of a combo box ("entry"): a caption and the value it stands for. Has
// no widget; the combo box shows it as an item.
class CComboBoxItem : public QObject, public CXmlWidget
{
    Q_OBJECT

public:
    CComboBoxItem(CXmlObject* parentObject, QWidget* parentWidget);
    ~CComboBoxItem() override;

    // Common attributes, then the required "title" (translated) and "value".
    int parse(TiXmlElement* element, QString& error) override;
    void setValue(const QString& value) override;
    QString getValue() const override;
    // "selected"; other names are reported in error but do not fail the load.
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    QWidget* widget() const override;

    const QString& text() const { return m_sText; }
    // Announces that this entry became the combo box's current one.
    void setSelected();
    CComboBox* comboBox() const { return m_pComboBox; }

signals:
    void selected();

private:
    QString m_sValue;
    QString m_sText;
    CComboBox* m_pComboBox;
};
