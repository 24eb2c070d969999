#pragma once

#include <QByteArray>
#include <QString>

class TiXmlDocument;

// Reads page-definition bytes into a TinyXML document safely: TinyXML parses
// and frees elements recursively, so documents nested deeper than
// CXmlObject::m_gMaxElementDepth are refused before TinyXML sees them.
class CXmlDefinitionReader
{
public:
    // The deepest nesting accepted; the object model refuses the same.
    static constexpr int m_gMaxElementDepth = 128;

    // Parses bytes (UTF-8, white space condensed) into document; returns a parse
    // result (0 or 1) with the reason in error.
    static int read(const QByteArray& bytes, TiXmlDocument& document, QString& error);

    // The deepest element nesting of bytes as TinyXML would build it.
    static int nestingDepth(const QByteArray& bytes);
};
