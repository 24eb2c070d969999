#pragma once

#include <QString>
#include <QStringList>

// The program's command line: one file to open and a list of option words.
// Arguments beginning with "-" or "/" are options: lower-cased, with every
// introducing character of that kind removed ("-Debug" gives "debug", "--a-b"
// gives "ab"). Any other argument names the file; the last one wins. An argument
// beginning with "/" that names an existing file or directory, or that is plainly a
// path ("/folder/name", or the suffix of a file the program opens), is a file too.
class CCommandLine
{
public:
    // arguments without the program name.
    explicit CCommandLine(const QStringList& arguments);

    const QString& file() const { return m_sFile; }
    const QStringList& options() const { return m_lOptions; }

private:
    QString m_sFile;
    QStringList m_lOptions;
};
