#include "SaveFlow.h"

#include "AdminPage.h"
#include "SaveCustomizationDialog.h"

#include "shared/XmlWidgets/OverrideCursor.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <optional>

CSaveFlow::CSaveFlow(CAdminPage& window) : QObject(&window), m_window(window) {}

void CSaveFlow::save()
{
    if (hasSaveTarget() && !m_bOpenedFromPackage)
    {
        if (trySave(m_window.document().configurationFile()))
            m_window.resetChanged(false);
        return;
    }
    saveAs();
}

void CSaveFlow::saveAs()
{
    if (trySaveAs())
    {
        m_window.resetChanged(false);
        m_bOpenedFromPackage = false;
    }
}

bool CSaveFlow::trySave(const QFileInfo& file)
{
    CDocument& document = m_window.document();
    const QString path = QDir::toNativeSeparators(file.filePath());
    std::optional<COverrideCursor> waiting(std::in_place, Qt::WaitCursor);
    const bool saved = document.saveTo(path, document.secrets().storeSecrets());
    waiting.reset();
    if (!saved)
        m_window.showWarning(
            QCoreApplication::translate(
                "CAdminPage",
                "Tessary is unable to save \"%1\".  Close the file if it's open, verify "
                "that the disk isn't full, remove write-protection on the file, and then "
                "try again.")
                .arg(path));
    return saved;
}

bool CSaveFlow::trySaveAs()
{
    CDocument& document = m_window.document();
    if (document.sourceFile().suffix().compare(QLatin1String("exe"), Qt::CaseInsensitive) == 0)
    {
        const COverrideCursor arrow(Qt::ArrowCursor);
        QMessageBox::information(
            &m_window, m_window.documentTitle(),
            QCoreApplication::translate(
                "CAdminPage",
                "Note: A saved configuration file can only be re-opened by Tessary. You must "
                "choose 'Publish' to generate a file to be used with %1.")
                .arg(document.sourceFile().fileName()));
    }
    if (CDocument::isTestDefinition(document.sourceFile().filePath()))
    {
        m_window.showWarning(QCoreApplication::translate(
            "CAdminPage", "The AdminConfig.xml can not be saved or published. It is only used for "
                          "testing purposes."));
        return false;
    }
    const QString directory = document.configurationFile().filePath().isEmpty()
                                  ? m_window.lastOpenedDirectory()
                                  : document.configurationFile().absolutePath();
    // A page definition's own name is not offered: saving there would replace it.
    QString proposed =
        QDir(directory).filePath(document.configurationIsCustomization()
                                     ? m_window.configurationDisplayName()
                                     : QCoreApplication::translate("CAdminPage", "Untitled"));
    if (!proposed.contains(QLatin1Char('.')))
        proposed += QStringLiteral(".xml");
    CSaveCustomizationDialog dialog(
        &m_window, QCoreApplication::translate("CAdminPage", "Save file..."), proposed,
        QCoreApplication::translate("CAdminPage", "Configuration Files (*.xml)"),
        document.secrets().storeSecrets());
    dialog.exec();
    QString chosen = dialog.chosenPath();
    if (chosen.isEmpty())
        return false;
    document.secrets().setStoreSecrets(dialog.storeSecrets());
    if (!chosen.endsWith(QLatin1String(".xml")))
        chosen += QStringLiteral(".xml");
    document.setConfigurationFile(QFileInfo(chosen), true);
    const bool saved = trySave(document.configurationFile());
    if (saved)
    {
        m_window.resetChanged(false);
        m_window.addRecentFile(document.configurationFile().absoluteFilePath());
        m_window.setOpenedPath(chosen);
    }
    return saved;
}

bool CSaveFlow::hasSaveTarget() const
{
    const CDocument& document = m_window.document();
    return !document.configurationFile().filePath().isEmpty() &&
           document.configurationIsCustomization();
}

bool CSaveFlow::promptToSave(bool closing, bool importing)
{
    const CDocument& document = m_window.document();
    // Definitions opened directly are for testing and never saved.
    if (!importing && CDocument::isTestDefinition(document.sourceFile().filePath()))
        m_window.resetChanged(false);
    if (!m_window.isChanged())
        return true;
    QMessageBox::StandardButton answer;
    {
        const COverrideCursor arrow(Qt::ArrowCursor);
        answer = QMessageBox::question(
            &m_window, m_window.documentTitle(),
            QCoreApplication::translate("CAdminPage", "Do you want to save your changes to %1?")
                .arg(m_window.configurationDisplayName()),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    }
    if (answer == QMessageBox::Yes)
    {
        const bool saved = hasSaveTarget() ? trySave(document.configurationFile()) : trySaveAs();
        if (!saved)
            return false;
        m_window.addRecentFile(document.configurationFile().absoluteFilePath());
    }
    else if (answer != QMessageBox::No)
    {
        return false;
    }
    if (!closing)
    {
        m_window.resetChanged(false);
        m_window.refreshTitle();
    }
    return true;
}
