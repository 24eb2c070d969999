#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

// Runs one program of a command action off the GUI thread. It carries its own copy
// of the command line, so it can finish after the action that started it is gone;
// it then deletes itself (its finished() signal is tied to deleteLater()).
class CCommandThread : public QThread
{
    Q_OBJECT

public:
    CCommandThread(const QString& path, const QStringList& args, bool wait, bool elevate);
    ~CCommandThread() override;

    // Runs the program at path on the calling thread: true when it was started
    // (no wait) or finished with exit code 0 (wait); with elevate, true when the
    // administrator rights were granted. Logs why a run failed.
    static bool runCommand(const QString& path, const QStringList& args, bool wait, bool elevate);

    // The program that grants administrator rights (pkexec), or empty when the
    // system has none.
    static QString elevationHelper();

signals:
    // Emitted on this thread when the run is over.
    void commandDone(bool res);

protected:
    void run() override;

private:
    static bool execProcess(const QString& path, const QStringList& args, bool wait, bool elevate);

    const QString m_sPath;
    const QStringList m_lArgs;
    const bool m_bWait;
    const bool m_bElevate;
};
