#pragma once

#include <QString>
#include <QStringList>

// One installation property of a page definition as its field holds it, without
// the field: the kind of field, what the definition allows, the default and the
// current value. Setting a value follows the field's own rules, so the value
// read back is the one the window's field would show.
class CDocumentProperty
{
public:
    enum Kind
    {
        Text,      // lineedit
        Number,    // numberedit: a line edit that takes integers
        MultiLine, // textedit
        Spin,      // spinbox: an integer within a range
        Choice,    // combobox: one of its entries' values
        Check,     // checkbox: its check or uncheck value
        Group,     // buttongroup: one of its radio buttons' values
        Mask,      // bitmask: the sum of its checked boxes' values
        Other      // any other element with a property: no value of its own
    };

    // The element name of a kind, as a definition spells it.
    static QString kindName(Kind kind);

    Kind m_kind = Other;
    QString m_sName;     // the element's "name" (the widget)
    QString m_sProperty; // the element's "property"
    QString m_sPage;     // the name of the page it is on; empty outside pages
    QString m_sDefault;
    bool m_bHasDefault = false;
    bool m_bAllowEmpty = false;
    // Marked "secret" by its element.
    bool m_bSecret = false;
    // Choice and Group: the values offered, in order; Mask: the boxes' values.
    QStringList m_lChoices;
    int m_iMinimum = 0;
    int m_iMaximum = 99;
    QString m_sInputMask;
    QString m_sCheckValue = QStringLiteral("1");
    QString m_sUncheckValue;
    QString m_sValue;

    // Sets the value as the field's setValue would: a value the field cannot take
    // leaves the current one (a check box, a list) or is brought within the field's
    // limits (a range). Returns whether the value read back is value itself.
    bool setValue(const QString& value);
    // Whether the field would take value as it is; why not in reason.
    bool accepts(const QString& value, QString* reason = nullptr) const;
    // What the definition allows, for people: "one of a, b", "1 to 365", ...
    QString constraint() const;
    // The value the field holds before its default is applied.
    QString initialValue() const;
    // Included when publishing: a value, or allowed to be empty.
    bool isSet() const { return !m_sValue.isEmpty() || m_bAllowEmpty; }
    // A secret (an enrollment token, a password, a key): marked so, or named so.
    bool isSecret() const { return m_bSecret || nameLooksSecret(m_sProperty); }
    // A name that says it holds a secret: TOKEN, PASSWORD, PASSWD, SECRET or APIKEY,
    // in any letter case, anywhere in the name.
    static bool nameLooksSecret(const QString& property);
    // Whether an element's "secret" attribute says yes: anything but an explicit
    // no counts, so that a misspelt yes does not expose a secret.
    static bool secretAttribute(const QString& value);

private:
    QString masked(const QString& value) const;
};
