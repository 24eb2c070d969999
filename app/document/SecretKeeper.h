#pragma once

#include "app/document/CustomizationFile.h"

#include <QList>
#include <QPair>
#include <QString>

class CXmlObject;

// The open document's secrets as far as customization files are concerned: whether
// they are written into the file, and which ones a file was saved without (they
// are asked for before publishing, since installers need them).
class CSecretKeeper
{
public:
    // A new page definition: nothing omitted, secrets not stored.
    void reset();

    bool storeSecrets() const { return m_bStoreSecrets; }
    void setStoreSecrets(bool store) { m_bStoreSecrets = store; }

    // Whether object's value is left out when the file is written.
    static bool omitOnSave(const CXmlObject* object, bool storeSecrets);

    // After a customization's values were applied to tree: remembers the secrets
    // it was saved without. With adoptStoreChoice (a customization file the
    // administrator opened, not an import or a published installer's copy), a file
    // that holds secret values keeps doing so when it is saved again.
    void noteLoaded(const QList<CCustomizationFile::CEntry>& entries, const CXmlObject* tree,
                    bool adoptStoreChoice);

    // The secret properties of tree that a file was saved without and that still
    // have no value, in tree order.
    QList<CXmlObject*> missing(const CXmlObject* tree) const;

private:
    bool m_bStoreSecrets = false;
    // (widget name, property name) of the values left out.
    QList<QPair<QString, QString>> m_lOmitted;
};
