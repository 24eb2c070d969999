#pragma once

#include <QFileInfo>
#include <QObject>

class CAdminPage;

// Saving as the window does it: Save, Save As with its dialog (and the choice to
// store secrets), and the question to save changes before they would be lost.
class CSaveFlow : public QObject
{
    Q_OBJECT

public:
    explicit CSaveFlow(CAdminPage& window);

    // Writes the customization file in place, or asks where first (Save As) when the
    // document has none yet or came from an installer.
    void save();
    void saveAs();
    // Asks to save a changed document; false when the command must stop. closing
    // leaves the changed flag as it is; importing keeps AdminConfig.xml documents.
    bool promptToSave(bool closing, bool importing);
    // Opened from an installer: Save acts as Save As until a Save As succeeded.
    void setOpenedFromPackage(bool fromPackage) { m_bOpenedFromPackage = fromPackage; }

private:
    bool trySave(const QFileInfo& file);
    bool trySaveAs();
    // Save may write the configuration file in place: it is a customization file.
    bool hasSaveTarget() const;

    CAdminPage& m_window;
    bool m_bOpenedFromPackage = true;
};
