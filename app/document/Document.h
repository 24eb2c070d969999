#pragma once

#include "CustomizationFile.h"
#include "DocumentProperty.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class TiXmlElement;

// The open document without a window: a page definition read for its pages and
// installation properties, under the same filters the window applies ("package",
// "showflag", "os", "versionmin"/"versionmax"), plus the values set on it. The
// window and the command line both hand its entries to the customization file and
// the published texts.
class CDocument
{
public:
    struct CPage
    {
        QString m_sName;
        QString m_sTitle;
    };

    // packageOS is the installer's system ("mac", "linux"; empty: this computer's);
    // options are the lower-cased command-line options "showflag" looks at.
    CDocument(const QString& packageOS = QString(), const QStringList& options = QStringList());

    // Reads a page definition; false with the reason in error (nothing kept then).
    bool load(const QByteArray& definition, QString& error);

    const QString& title() const { return m_sTitle; }
    const QString& rootName() const { return m_sRootName; }
    const QList<CPage>& pages() const { return m_lPages; }
    // Every installation property in the order of the definition.
    const QList<CDocumentProperty>& properties() const { return m_lProperties; }
    QList<CDocumentProperty>& properties() { return m_lProperties; }
    // The properties named property (several fields may share one name).
    QList<CDocumentProperty*> findProperty(const QString& property);
    // Every field (with or without a property) whose widget name is name.
    QList<CDocumentProperty*> findField(const QString& name);
    // The root's actions that run when a publish starts (signal "validate"), each
    // as the text of its element, in definition order.
    const QList<QByteArray>& validateActions() const { return m_lValidateActions; }

    // Applies the values of a customization as the window does: each to the fields
    // of its widget name and property name; unmatched entries are ignored. Secrets
    // the customization was saved without are remembered as missing.
    void apply(const QList<CCustomizationFile::CEntry>& entries);

    // The entries a customization file or a publish takes, in the window's order.
    // Without withSecrets, secret values are marked left out instead; a secret that
    // is still missing is always so marked in a file (it has no value to publish).
    QList<CCustomizationFile::CEntry> entries(bool onlySet, bool withSecrets = true) const;
    // The secrets a customization was saved without that still have no value, in
    // the order of the definition.
    QList<const CDocumentProperty*> missingSecrets() const;

private:
    int walk(TiXmlElement* element, const QString& page, int depth, QString& error);
    bool skipped(TiXmlElement* element) const;
    bool isMissing(const CDocumentProperty& property) const;
    void addProperty(TiXmlElement* element, const QString& kind, const QString& page,
                     QString& error, int& result);

    QString m_sPackageOS;
    QStringList m_lOptions;
    QString m_sTitle;
    QString m_sRootName;
    QList<CPage> m_lPages;
    QList<CDocumentProperty> m_lProperties;
    // Named fields without a property: actions read and set them too.
    QList<CDocumentProperty> m_lUnbound;
    QList<QByteArray> m_lValidateActions;
    // (widget name, property name) of the secrets a customization left out.
    QList<QPair<QString, QString>> m_lOmitted;
};
