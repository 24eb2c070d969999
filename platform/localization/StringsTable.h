#pragma once

#include <QByteArray>
#include <QString>
#include <map>
#include <string>

namespace Localization
{

// One string table in the .strings format: UTF-8 (optionally with a byte-order
// mark) or UTF-16 with a byte-order mark; /* */ and // comments; entries
// "key" = "value"; or "key"; (value equal to the key); keys and values quoted with
// C-like escapes (\" \\ \n \t \r \Uxxxx \uxxxx, octal) or bare words.
class StringsTable
{
public:
    StringsTable() = default;

    // Parses data. On a fault the entries before it are kept and *error names the
    // line and the reason; otherwise *error is emptied.
    static StringsTable fromData(const QByteArray& data, QString* error);

    // Reads and parses a file; a fault is written once to the debug log. A file that
    // cannot be read gives an empty table.
    static StringsTable fromFile(const QString& path);

    // The value stored for key, or null when the table does not hold it.
    const std::wstring* find(const std::wstring& key) const;
    std::size_t size() const { return m_lStrings.size(); }

private:
    std::map<std::wstring, std::wstring> m_lStrings;
};

} // namespace Localization
