#pragma once

#include <QFileDialog>

class QCheckBox;

// The save dialog of customization files, with the choice whether secret values
// are written into the file (off unless the document's file already holds them).
class CSaveCustomizationDialog : public QFileDialog
{
    Q_OBJECT

public:
    CSaveCustomizationDialog(QWidget* parent, const QString& caption, const QString& proposed,
                             const QString& filter, bool storeSecrets);

    // The chosen path, or empty when the dialog was canceled.
    QString chosenPath() const;
    bool storeSecrets() const;

private:
    QCheckBox* m_pStoreSecrets;
};
