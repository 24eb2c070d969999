#include "CliRunner.h"

#include "tests/support/TestEnvironment.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace AppTest
{
CCliRun runCli(const QStringList& arguments, const QMap<QString, QString>& added)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    for (auto it = added.constBegin(); it != added.constEnd(); ++it)
        environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.start(QString::fromStdString(TestSupport::binaryDirectory()) +
                      QStringLiteral("/app/tessary-cli"),
                  arguments);
    CCliRun result;
    if (!process.waitForFinished(120000))
    {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "tessary-cli did not finish: " << arguments.join(' ').toStdString();
        return result;
    }
    result.m_iStatus = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.m_sOut = QString::fromUtf8(process.readAllStandardOutput());
    result.m_sErr = QString::fromUtf8(process.readAllStandardError());
    return result;
}
} // namespace AppTest
