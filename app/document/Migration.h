#pragma once

#include "CustomizationFile.h"

#include <QList>
#include <QString>

class CDocument;

// Carries the values of a customization made for one release of an installer
// over to another release's page definition, and says for every property what
// became of it.
class CMigration
{
public:
    enum Status
    {
        Kept,           // the value goes on unchanged
        DefaultChanged, // upstream changed the default; the value goes on
        Removed,        // upstream no longer has the property; the value is dropped
        Added,          // new upstream; it starts with its default
        Invalid         // the value no longer fits the field; the field's own answer is taken
    };

    struct CItem
    {
        Status m_status = Kept;
        QString m_sProperty;
        QString m_sWidget;
        QString m_sValue;      // the customization's value (empty for Added)
        QString m_sNewValue;   // the value the new customization holds (empty for Removed)
        QString m_sOldDefault; // when the old definition is known
        QString m_sNewDefault;
        QString m_sReason;      // Invalid: why
        bool m_bSecret = false; // its values are reported only as set or not set
        // Listed in the customization; otherwise it has the installer's default.
        bool m_bListed = true;
    };

    // Applies contents to target (the new release's document, fresh from its
    // definition) through the new fields' own rules. previous is the release the
    // customization was made for, or null when its installer cannot be opened (then
    // no default change can be told, and properties it does not list count as new).
    // A value of item as a report shows it: never a secret's value itself.
    static QString shownValue(const CItem& item, const QString& value);

    static QList<CItem> migrate(const CCustomizationFile::CContents& contents,
                                const CDocument* previous, CDocument& target);

    static QString statusName(Status status);
    // After an Import into document: what became of the values of the customization
    // at path, made for another release of document's installer. Empty when it was
    // made for this release (or its release is not known).
    static QString importReport(const CDocument& document, const QString& path);
    // One line per item, for people.
    static QString describe(const CItem& item);
};
