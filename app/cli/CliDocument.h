#pragma once

#include "app/document/CustomizationFile.h"
#include "app/document/Document.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <memory>

class CPackage;

// A document as the command line opens it: an installer, or a customization over
// its installer (the one it names, or another one given), built into a page tree
// nobody sees, so that its values meet the same fields as in the window.
class CCliDocument
{
public:
    CCliDocument();
    ~CCliDocument();

    // Opens path ("-": a customization on standard input); installer, when not
    // empty, replaces the installer a customization names. False with the reason in
    // error.
    bool open(const QString& path, const QString& installer, const QStringList& options,
              QString& error);

    CDocument& document() { return *m_pDocument; }
    const CDocument& document() const { return *m_pDocument; }
    // The installer package (null for a page definition opened directly).
    CPackage* installer() const { return m_pInstaller; }
    // The installer's file as the window records it.
    const QFileInfo& sourceFile() const { return m_pDocument->sourceFile(); }
    // The customization opened, when one was.
    const QFileInfo& customizationFile() const { return m_customizationFile; }
    bool hasCustomization() const { return m_bCustomization; }
    const CCustomizationFile::CContents& customization() const { return m_customization; }
    // What the fields made of the customization's values.
    const QList<CDocument::CValueNote>& notes() const { return m_lNotes; }
    // "flat package", "bundle package", "disk image", "script installer", "page definition".
    QString kind() const;

private:
    std::unique_ptr<CDocument> m_pDocument;
    std::unique_ptr<CPackage> m_pOpened;
    std::unique_ptr<CPackage> m_pOtherInstaller;
    CPackage* m_pInstaller = nullptr;
    QFileInfo m_customizationFile;
    bool m_bCustomization = false;
    CCustomizationFile::CContents m_customization;
    QList<CDocument::CValueNote> m_lNotes;
};
