#pragma once

#include <QFileDialog>

// The Open dialog. A bundle installer (".pkg" or ".mpkg") is a directory: where
// the system's dialog does not present bundles as files, choosing one (typing or
// selecting it, or pressing Open from inside it) opens it instead of browsing on.
class COpenFileDialog : public QFileDialog
{
    Q_OBJECT

public:
    COpenFileDialog(QWidget* parent, const QString& caption, const QString& start,
                    const QString& filter);

    // The chosen file or bundle; empty when the dialog was cancelled.
    QString chosenPath() const;

    static bool isBundle(const QString& path);

public slots:
    void accept() override;

private:
    QString m_sBundle;
};
