#pragma once

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
// DISPLAY or WAYLAND_DISPLAY), at most two minutes.
CCliRun runCli(const QStringList& arguments);
} // namespace AppTest
