#pragma once

#include "app/document/CustomizationFile.h"
#include "app/document/Document.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <memory>

class CPackage;

// A document as the command line opens it: an installer, or a customization over
// its installer (the one it names, or another one given), read without a window.
class CCliDocument
{
public:
    CCliDocument();
    ~CCliDocument();

    // Opens path; installer, when not empty, replaces the installer a customization
    // names. False with the reason in error.
    bool open(const QString& path, const QString& installer, const QStringList& options,
              QString& error);

    CDocument& document() { return m_document; }
    const CDocument& document() const { return m_document; }
    // The installer package (null for a page definition opened directly).
    CPackage* installer() const { return m_pInstaller; }
    // The installer's file as the window records it.
    const QFileInfo& sourceFile() const { return m_sourceFile; }
    // The customization opened, when one was.
    const QFileInfo& customizationFile() const { return m_customizationFile; }
    const CCustomizationFile::CContents& customization() const { return m_customization; }
    // "flat package", "bundle package", "disk image", "script installer", "page definition".
    QString kind() const;

private:
    std::unique_ptr<CPackage> m_pOpened;
    std::unique_ptr<CPackage> m_pOtherInstaller;
    CPackage* m_pInstaller = nullptr;
    QFileInfo m_sourceFile;
    QFileInfo m_customizationFile;
    CCustomizationFile::CContents m_customization;
    CDocument m_document;
};
