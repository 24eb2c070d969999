#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>

// What a customization changes, as a document for a change ticket: the installer
// it applies to, every property that differs from its default, page by page, the
// property texts publishing writes and the results of the last checks. Secret
// values are already replaced by whoever fills it in; this class only writes.
class CReviewReport
{
public:
    struct CEntry
    {
        QString m_sPage;
        QString m_sLabel;
        QString m_sProperty;
        QString m_sDefault;
        QString m_sValue;
    };

    QString m_sProduct;
    QString m_sVersion;
    QString m_sSourcePath;
    QString m_sSourceDigest;
    // The customization file the document was opened from or saved to, when there is
    // one, and its digest as it lies on disk.
    QString m_sCustomizationPath;
    QString m_sCustomizationDigest;
    // The Tessary that wrote the report.
    QString m_sToolVersion;
    QString m_sDate;
    QList<CEntry> m_lEntries;
    QString m_sShellText;
    QString m_sJavaScriptText;
    // One line per check result; empty when no check has run.
    QStringList m_lCheckResults;

    // m_sCustomizationPath, or that the document has no customization file yet.
    QString customizationPath() const;

    // A complete HTML document that needs nothing else (no scripts, no links).
    QString toHtml() const;
    // The same as plain text.
    QString toText() const;
    // Writes toHtml() or toText() as UTF-8, completely or not at all; on failure
    // error says why.
    bool write(const QString& path, bool html, QString* error) const;

    // The SHA-256 of a file in hexadecimal; for a bundle (a directory), of its
    // regular files' relative paths and contents in path order, links not followed.
    // Empty when it cannot be read, or when canceled turns true on the way (it is
    // looked at between blocks, so that a reader of gigabytes stops at once).
    static QString sha256Of(const QString& path, const std::atomic_bool* canceled = nullptr);
};
