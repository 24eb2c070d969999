#pragma once

#include <QObject>
#include <QStringList>

class CPackage;
class QMenu;

// The recent-files list of the File menu: most recent first, ten at most, never a
// test definition. It keeps the "Open Recent" submenu enabled exactly while it
// holds a file, and fills it each time it is about to show.
class CRecentFiles : public QObject
{
    Q_OBJECT

public:
    static const int Limit = 10;

    CRecentFiles(QMenu* menu, QObject* parent);

    const QStringList& files() const { return m_lFiles; }
    // To the front, once.
    void add(const QString& path);
    void remove(const QString& path);
    // A file the settings remembered (the package is consumed): to the end, when it
    // is still a valid installer and the list has room.
    void addRemembered(CPackage* package);

signals:
    // An entry of the submenu was chosen.
    void chosen(const QString& path);
    // The list changed.
    void changed(const QStringList& files);

public slots:
    // Rebuilds the submenu from the list.
    void fillMenu();

private:
    void updateMenu();

    QMenu* m_pMenu;
    QStringList m_lFiles;
};
