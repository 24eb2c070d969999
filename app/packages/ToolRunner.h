#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

// Runs one of the system's command-line tools by name, with separate arguments and
// no shell, and waits for it within a limit. A tool that outlives its limit is
// killed together with whatever it started (it runs in a process group of its
// own), so nothing writes after the caller has moved on.
class CToolRunner
{
public:
    struct Result
    {
        bool started = false;
        // Ended by itself within the limit (crashed or not).
        bool finished = false;
        bool crashed = false;
        int exitCode = -1;
        QByteArray output;
        // The start of what the tool wrote to its standard error.
        QByteArray errors;

        // Finished normally with exit code 0.
        bool succeeded() const { return finished && !crashed && exitCode == 0; }
    };

    typedef std::function<bool()> CancelTest;

    // Waits at most msecs for the start and again at most msecs for the end;
    // a negative limit waits for ever. maxFileBytes, when positive, is the largest
    // file the tool may write (a tool writing more is stopped by the system and
    // counts as crashed), so that a small archive cannot expand to fill the disk.
    static Result run(const QString& program, const QStringList& arguments,
                      const QString& workingDirectory, int msecs, qint64 maxFileBytes = 0);
    // Waits in slices of a second until the tool ends or cancel() says to stop,
    // an hour at most.
    // temporaryDirectory, when given, becomes the tool's TMPDIR, so that what a
    // killed tool leaves there goes with the caller's work directory. extra holds
    // variables added to the tool's environment (a password that must not be seen
    // on its command line).
    static Result runCancelable(const QString& program, const QStringList& arguments,
                                const CancelTest& cancel,
                                const QString& temporaryDirectory = QString(),
                                const QProcessEnvironment& extra = QProcessEnvironment());

    // The tool's output cut at its first NUL byte and trimmed of white space.
    static QByteArray cleanOutput(const QByteArray& output);
};
