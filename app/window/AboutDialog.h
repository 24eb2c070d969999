#pragma once

#include <QDialog>

class QTabWidget;

// "About Tessary": what the program is, its version, its licence and the
// notices of the components it is built with.
class CAboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDialog(QWidget* parent = nullptr);
    ~CAboutDialog() override;

    // The version the program was built as.
    static QString versionText();

    QTabWidget* tabs() const { return m_pTabs; }

private:
    QTabWidget* m_pTabs;
};
