#include "RecentFiles.h"

#include "app/document/Document.h"
#include "app/document/ShownText.h"
#include "app/packages/Package.h"

#include <QAction>
#include <QDebug>
#include <QMenu>

CRecentFiles::CRecentFiles(QMenu* menu, QObject* parent) : QObject(parent), m_pMenu(menu)
{
    connect(m_pMenu, &QMenu::aboutToShow, this, &CRecentFiles::fillMenu);
    updateMenu();
}

void CRecentFiles::add(const QString& path)
{
    if (path.isEmpty() || CDocument::isTestDefinition(path))
        return;
    m_lFiles.removeAll(path);
    m_lFiles.prepend(path);
    while (m_lFiles.size() > Limit)
        m_lFiles.removeLast();
    updateMenu();
}

void CRecentFiles::remove(const QString& path)
{
    m_lFiles.removeAll(path);
    updateMenu();
}

void CRecentFiles::addRemembered(CPackage* package)
{
    if (!package)
        return;
    const QString path = package->file().absoluteFilePath();
    if (!package->isValid())
        qDebug().noquote() << "CRecentFiles::addRemembered(" + path + "): not a valid package";
    // The list may already hold the file opened from the command line.
    else if (!m_lFiles.contains(path) && !CDocument::isTestDefinition(path) &&
             m_lFiles.size() < Limit)
        m_lFiles.append(path);
    delete package;
    updateMenu();
}

void CRecentFiles::fillMenu()
{
    m_pMenu->clear();
    for (int i = 0; i < m_lFiles.size() && i < Limit; ++i)
    {
        const QString path = m_lFiles.at(i);
        // A name may hold control or direction characters: shown escaped.
        QAction* const entry = m_pMenu->addAction(CShownText::escaped(path));
        entry->setData(path);
        connect(entry, &QAction::triggered, this, [this, path] { emit chosen(path); });
    }
}

void CRecentFiles::updateMenu()
{
    m_pMenu->setEnabled(!m_lFiles.isEmpty());
    emit changed(m_lFiles);
}
