#include "CommandThread.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace
{
// pkexec's own exit codes: the rights were refused (127) or the prompt dismissed (126).
constexpr int kElevationRefused = 127;
constexpr int kElevationDismissed = 126;
} // namespace

CCommandThread::CCommandThread(const QString& path, const QStringList& args, bool wait,
                               bool elevate)
    : m_sPath(path), m_lArgs(args), m_bWait(wait), m_bElevate(elevate)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

CCommandThread::~CCommandThread() = default;

void CCommandThread::run()
{
    emit commandDone(runCommand(m_sPath, m_lArgs, m_bWait, m_bElevate));
}

QString CCommandThread::elevationHelper()
{
    return QStandardPaths::findExecutable(QStringLiteral("pkexec"));
}

bool CCommandThread::runCommand(const QString& path, const QStringList& args, bool wait,
                                bool elevate)
{
    qDebug().noquote() << "CCommandThread::runCommand(" + path + ") begin";
    bool result = false;
    if (!QFileInfo::exists(path))
    {
        qDebug().noquote() << "Failed to find process:" << path;
    }
    else if (execProcess(path, args, wait, elevate))
    {
        result = true;
    }
    else
    {
        qDebug().noquote() << "Failed to exec process:" << path;
    }
    qDebug().noquote() << "CCommandThread::runCommand(" + path + ") end";
    return result;
}

bool CCommandThread::execProcess(const QString& path, const QStringList& args, bool wait,
                                 bool elevate)
{
    QProcess process;
    // The program talks to nobody: no input, and its output goes where ours goes.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    if (elevate)
    {
        const QString helper = elevationHelper();
        if (helper.isEmpty())
        {
            qDebug().noquote() << "No way to obtain administrator rights for" << path;
            return false;
        }
        // pkexec wants an absolute program path and asks for the password itself.
        process.setProgram(helper);
        process.setArguments(QStringList{QFileInfo(path).absoluteFilePath()} + args);
    }
    else
    {
        process.setProgram(path);
        process.setArguments(args);
    }

    if (!wait)
    {
        // Detached, so the program outlives us and leaves no zombie behind.
        return process.startDetached();
    }

    process.start();
    if (!process.waitForStarted(-1))
    {
        qDebug().noquote() << "Could not start" << process.program() << ":"
                           << process.errorString();
        return false;
    }
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit)
    {
        qDebug().noquote() << process.program() << "did not finish normally";
        return false;
    }
    if (elevate)
    {
        // Only whether the rights were granted counts, not the program's own status.
        const int code = process.exitCode();
        return code != kElevationRefused && code != kElevationDismissed;
    }
    return process.exitCode() == 0;
}
