#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The texts that carry published values into an installer: shell "export" lines
// that the installer's scripts source, and the JavaScript block that the flat
// package's Distribution runs. Values keep their order; names are taken as given.
class CPropertyText
{
public:
    typedef QList<QPair<QString, QString>> Properties;

    // Names starting with these are used by publishing itself and never written.
    static bool isPublished(const QString& name);
    // A name the shell accepts as a variable: a letter or "_", then letters,
    // digits or "_" (ASCII only).
    static bool isShellName(const QString& name);
    // The names of properties that cannot be written as shell variables, once each.
    static QStringList invalidShellNames(const Properties& properties);

    // "export NAME='value'\n" per property; names that are not shell names are left
    // out, since a shell would run them as commands.
    static QString shellText(const Properties& properties);
    // "var ts_properties = new Array();\n", then one assignment per property.
    static QString javaScriptText(const Properties& properties);

    // The value inside single quotes, each quote written as '"'"'.
    static QString shellQuoted(const QString& value);
    // The text of a double-quoted JavaScript string literal that reads back as
    // value and is also safe inside an XML document and a <script> element.
    static QString javaScriptEscaped(const QString& value);
};
