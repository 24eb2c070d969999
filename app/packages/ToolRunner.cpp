#include "ToolRunner.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QProcess>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace
{
const int kKillWaitMs = 10000;
// Expanding or flattening even a large package takes minutes; a tool still running
// after this long is stuck, and the administrator may not be there to cancel it.
const qint64 kCancelableLimitMs = 60 * 60 * 1000;

// A child in a process group of its own, optionally with a limit on the files it
// writes.
class CToolProcess : public QProcess
{
public:
    explicit CToolProcess(qint64 maxFileBytes = 0) : m_maxFileBytes(maxFileBytes) {}

protected:
    void setupChildProcess() override
    {
        ::setpgid(0, 0);
        if (m_maxFileBytes > 0)
        {
            const struct rlimit limit = {rlim_t(m_maxFileBytes), rlim_t(m_maxFileBytes)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    }

private:
    qint64 m_maxFileBytes;
};

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    const qint64 pid = process.processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    process.kill();
    process.waitForFinished(kKillWaitMs);
}

CToolRunner::Result collect(QProcess& process, bool finished)
{
    CToolRunner::Result result;
    result.started = true;
    result.finished = finished;
    if (finished)
    {
        result.crashed = process.exitStatus() != QProcess::NormalExit;
        result.exitCode = process.exitCode();
        result.output = process.readAllStandardOutput();
    }
    const QByteArray errors = process.readAllStandardError().trimmed();
    result.errors = errors.left(2048);
    if (!finished)
        qDebug() << process.program() << "did not finish in time; killed";
    else if (result.crashed || result.exitCode != 0)
        qDebug() << process.program() << "failed with exit code" << result.exitCode
                 << (result.crashed ? "(crashed)" : "") << errors;
    return result;
}

void prepare(QProcess& process, const QString& program, const QStringList& arguments,
             const QString& workingDirectory)
{
    process.setProgram(program);
    process.setArguments(arguments);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.setStandardInputFile(QProcess::nullDevice());
}
} // namespace

CToolRunner::Result CToolRunner::run(const QString& program, const QStringList& arguments,
                                     const QString& workingDirectory, int msecs,
                                     qint64 maxFileBytes)
{
    CToolProcess process(maxFileBytes);
    prepare(process, program, arguments, workingDirectory);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(msecs))
    {
        qDebug() << program << "could not be started:" << process.errorString();
        stopProcess(process);
        return Result();
    }
    const bool finished = process.waitForFinished(msecs);
    if (!finished)
        stopProcess(process);
    return collect(process, finished);
}

CToolRunner::Result CToolRunner::runCancelable(const QString& program, const QStringList& arguments,
                                               const CancelTest& cancel,
                                               const QString& temporaryDirectory,
                                               const QProcessEnvironment& extra)
{
    CToolProcess process;
    prepare(process, program, arguments, QString());
    if (!temporaryDirectory.isEmpty() || !extra.isEmpty())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!temporaryDirectory.isEmpty())
            environment.insert(QStringLiteral("TMPDIR"), temporaryDirectory);
        environment.insert(extra);
        process.setProcessEnvironment(environment);
    }
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
    {
        qDebug() << program << "could not be started:" << process.errorString();
        return Result();
    }
    QElapsedTimer timer;
    timer.start();
    bool finished = false;
    while (!(finished = process.waitForFinished(1000)))
    {
        if (process.state() == QProcess::NotRunning)
        {
            finished = true;
            break;
        }
        if (cancel && cancel())
        {
            qDebug() << program << "canceled";
            break;
        }
        if (timer.elapsed() > kCancelableLimitMs)
        {
            qDebug() << program << "did not finish within" << kCancelableLimitMs / 1000 << "s";
            break;
        }
    }
    if (!finished)
        stopProcess(process);
    return collect(process, finished);
}

QByteArray CToolRunner::cleanOutput(const QByteArray& output)
{
    QByteArray text = output;
    const int nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    return text.trimmed();
}
