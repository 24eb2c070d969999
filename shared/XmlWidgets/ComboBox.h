#pragma once

#include "XmlContainer.h"

#include <QComboBox>

class CComboBoxItem;

// A drop-down list of "entry" elements ("combobox"); its value is the current
// entry's value.
class CComboBox : public QComboBox, public CXmlContainer
{
    Q_OBJECT

public:
    CComboBox(CXmlObject* parentObject, QWidget* parentWidget);
    ~CComboBox() override;

    // The current entry's value; empty without entries.
    QString getValue() const override;
    // Makes the first entry whose value equals value current; nothing when none does.
    void setValue(const QString& value) override;
    CValueRule valueRule() const override;
    QWidget* widget() const override;

    // "entry" only.
    CXmlWidget* createWidget(const QString& name, QString& error) override;
    // Appends the entry's text as an item that refers back to the entry.
    int addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                  QString& error) override;

    // The entry behind item index, or null.
    CComboBoxItem* entryAt(int index) const;

private slots:
    void onCurrentIndexChanged(int index);
};
