#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace AppTest
{
// What a run of the real tessary-cli gave.
struct CCliRun
{
    int m_iStatus = -1;
    QString m_sOut;
    QString m_sErr;
};

// Runs the built tessary-cli with no display of any kind (no QT_QPA_PLATFORM,
// DISPLAY or WAYLAND_DISPLAY), at most two minutes; environment is added to the
// environment it runs in.
CCliRun runCli(const QStringList& arguments,
               const QMap<QString, QString>& environment = QMap<QString, QString>());
} // namespace AppTest
