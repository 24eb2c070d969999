#include "SaveCustomizationDialog.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>

CSaveCustomizationDialog::CSaveCustomizationDialog(QWidget* parent, const QString& caption,
                                                   const QString& proposed, const QString& filter,
                                                   bool storeSecrets)
    : QFileDialog(parent, caption, QFileInfo(proposed).absolutePath(), filter)
{
    setObjectName(QStringLiteral("SaveCustomizationDialog"));
    // The check box needs the dialog's own widgets.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    selectFile(proposed);
    m_pStoreSecrets = new QCheckBox(tr("Store secret values in this file"), this);
    m_pStoreSecrets->setObjectName(QStringLiteral("storeSecrets"));
    m_pStoreSecrets->setChecked(storeSecrets);
    m_pStoreSecrets->setToolTip(
        tr("Without this, passwords, tokens and other secret values are left out of the file "
           "and asked for when the customization is published."));
    if (QGridLayout* const grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(m_pStoreSecrets, grid->rowCount(), 0, 1, grid->columnCount());
    else if (layout())
        layout()->addWidget(m_pStoreSecrets);
}

QString CSaveCustomizationDialog::chosenPath() const
{
    if (result() != QDialog::Accepted)
        return QString();
    return selectedFiles().value(0);
}

bool CSaveCustomizationDialog::storeSecrets() const
{
    return m_pStoreSecrets->isChecked();
}
