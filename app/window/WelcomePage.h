#pragma once

#include "shared/XmlWidgets/Page.h"

#include <QStringList>

class CPageHolder;
class QLabel;
class QVBoxLayout;

// The built-in first page: explains how to use the tool, which files it opens and
// that they may be dropped on the window, and offers the recent files. It stays
// the first page of every document.
class CWelcomePage : public CPage
{
    Q_OBJECT

public:
    CWelcomePage(CPageHolder* holder, QWidget* parent);
    ~CWelcomePage() override;

    // The page's name and object name, by which the index links to it.
    void setPageName(const QString& name);
    // Shows files (most recent first) as links; none hides the list.
    void setRecentFiles(const QStringList& files);
    const QStringList& recentFiles() const { return m_lRecentFiles; }
    // The links of the recent files, in order.
    QList<QLabel*> recentLinks() const;

signals:
    // A recent file's link was followed.
    void recentFileChosen(const QString& path);

private:
    QStringList m_lRecentFiles;
    QLabel* m_pRecentHeading = nullptr;
    QVBoxLayout* m_pRecentList = nullptr;
};
