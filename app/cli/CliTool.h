#pragma once

#include "app/document/CheckReport.h"
#include "app/packages/MacFlatPackage.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <csignal>

class CCliDocument;
class CCliSecrets;
class CDocument;
class CHeadlessRoot;

// tessary-cli: shows, checks, publishes and carries forward customizations
// without a window. run() returns the exit status: 0 done (or every check passed),
// 1 a check or the work failed, 2 usage or input errors (nothing written).
class CCliTool : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus
    {
        Success = 0,
        Failure = 1,
        UsageError = 2
    };

    CCliTool(QTextStream& out, QTextStream& err, QObject* parent = nullptr);

    // arguments without the program name.
    int run(const QStringList& arguments);

    static QString usage();

    // Set by the program's handler of SIGINT, SIGTERM and SIGHUP: the command then
    // stops and cleans up instead of dying half-way.
    static volatile sig_atomic_t m_gInterrupted;

private:
    // The options of one command: flags, options with values (repeatable), and
    // the plain arguments. False with the reason in error for anything else.
    struct COptions
    {
        QStringList m_lPlain;
        QStringList m_lFlags;
        QList<QPair<QString, QString>> m_lValues;
        QString value(const QString& name) const;
        QStringList values(const QString& name) const;
    };
    // Every command takes exactly one file; oneFile is the message when it gets
    // another number.
    bool parse(const QStringList& arguments, const QStringList& flags, const QStringList& valued,
               const QString& oneFile, COptions& options, QString& error) const;
    int fail(int status, const QString& message);
    // Whether a signal asked to stop; says so.
    bool interrupted();

    int show(const QStringList& arguments);
    int publish(const QStringList& arguments);
    int check(const QStringList& arguments);
    int migrate(const QStringList& arguments);
    // What publish --json reports of what was (or would be) written.
    QJsonObject publishReport(const QString& written, const QString& kind, bool dryRun,
                              bool signedOutput) const;

    // The identity of --sign-identity, checked; false with the reason in error.
    bool signingIdentity(const COptions& options, CMacFlatPackage::Signing& signing,
                         QString& error);
    // Applies --set NAME=VALUE as the fields take typed values; what a field changed
    // goes to warnings. False with the reason in error.
    static bool applySettings(CCliDocument& document, const QStringList& settings,
                              QStringList& warnings, QString& error);
    // Opens the installer or customization the command names, with --installer and
    // the start-up options of --option; false with the reason in error.
    static bool openDocument(const COptions& options, CCliDocument& document, QString& error);
    // Applies --set, then the secrets of --secrets-file or the environment.
    static bool applyValues(const COptions& options, CCliDocument& document, CCliSecrets& secrets,
                            QStringList& warnings, QString& error);
    // What the fields made of the customization's values: adjusted and unknown ones
    // go to warnings; refused ones fail with error when refusedStop.
    static bool reportNotes(const CCliDocument& document, bool refusedStop, QStringList& warnings,
                            QString& error);
    void warn(const QStringList& warnings);
    // Opens the document the options name and gives it its values: the
    // customization's (a refused one stops it), --set and the secrets. 0, or the
    // exit status after saying why.
    int openWithValues(const COptions& options, CCliDocument& document, CCliSecrets& secrets);
    // --timeout in milliseconds (30 s when not given).
    static bool checkTimeout(const COptions& options, int& timeoutMs, QString& error);
    // The checks as they may be printed: secrets hidden, control characters escaped.
    static QList<CCheckReport::CCheck> reportedChecks(const CHeadlessRoot& root,
                                                      const CDocument& document);
    // The report of check: its messages (withMessages), then one verdict per check.
    static QString checkText(const QList<CCheckReport::CCheck>& reported, bool withMessages);
    void progress(qint64 current, qint64 total);

    QTextStream& m_out;
    QTextStream& m_err;
    bool m_bProgressShown = false;
    // Every warning given so far, for the reports that list them.
    QStringList m_lWarned;
};
