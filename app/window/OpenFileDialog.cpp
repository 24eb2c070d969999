#include "OpenFileDialog.h"

#include <QFileInfo>

COpenFileDialog::COpenFileDialog(QWidget* parent, const QString& caption, const QString& start,
                                 const QString& filter)
    : QFileDialog(parent, caption, QString(), filter)
{
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
#ifndef Q_OS_MACOS
    // Only this dialog lets a bundle directory be chosen.
    setOption(QFileDialog::DontUseNativeDialog);
#endif
    // Starting inside a bundle would show its contents: start beside it instead.
    const QFileInfo info(start);
    if (isBundle(start) || info.isFile())
    {
        setDirectory(info.absolutePath());
        selectFile(info.fileName());
    }
    else if (!start.isEmpty())
        setDirectory(start);
}

bool COpenFileDialog::isBundle(const QString& path)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().toLower();
    return info.isDir() && (suffix == QLatin1String("pkg") || suffix == QLatin1String("mpkg"));
}

void COpenFileDialog::accept()
{
    const QString current = directory().absolutePath();
    QString chosen = selectedFiles().value(0);
    // Open pressed from inside a bundle, with nothing else chosen.
    if (chosen.isEmpty() || QFileInfo(chosen).absoluteFilePath() == current)
        chosen = current;
    if (isBundle(chosen))
    {
        m_sBundle = QFileInfo(chosen).absoluteFilePath();
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
}

QString COpenFileDialog::chosenPath() const
{
    if (result() != QDialog::Accepted)
        return QString();
    return m_sBundle.isEmpty() ? selectedFiles().value(0) : m_sBundle;
}
