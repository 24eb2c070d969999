#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

class CDocument;

// The secrets a customization was saved without, given back on the command line:
// never as arguments (others can read those), but from the environment variable
// TESSARY_SECRET_<PROPERTY> or from a secrets file of NAME=VALUE lines.
class CCliSecrets
{
public:
    // The largest secrets file read; secrets are short.
    static const qint64 MaxFileSize = 64 * 1024;

    // The environment variable that gives property's secret: its name upper-cased,
    // every character but A-Z, 0-9 and "_" as "_".
    static QString variableName(const QString& property);

    // Reads a secrets file: NAME=VALUE lines, blank lines and lines starting with
    // "#" ignored, the value up to the end of its line. Only a regular file of at
    // most MaxFileSize bytes; false with the reason in error (never a value).
    // A file group or others may read or write is refused unless allowInsecure, then
    // used with a warning.
    bool readFile(const QString& path, QString& error, bool allowInsecure = false);

    // The mode as "0644" when group or others may read or write a file of it; empty
    // when only its owner may.
    static QString exposedMode(unsigned int mode);

    // Sets each secret of document that the secrets file, else its environment
    // variable, gives a value, as its field takes typed text. False with the reason
    // in error when the field refuses a value or a name in the file is no secret of document; the
    // secrets a customization left out that are still missing afterwards are in missing().
    bool fill(CDocument& document, QString& error);

    // The property names of the secrets still without a value after fill().
    const QStringList& missing() const { return m_lMissing; }
    // What the fields changed of the secrets given (never the values themselves).
    const QStringList& adjusted() const { return m_lAdjusted; }
    // What readFile() warned of (a file others may read, allowed).
    const QStringList& warnings() const { return m_lWarnings; }

private:
    QString m_sFile;
    QMap<QString, QString> m_values;
    QMap<QString, int> m_lines;
    QStringList m_lMissing;
    QStringList m_lAdjusted;
    QStringList m_lWarnings;
};
