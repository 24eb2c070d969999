#pragma once

#include <QString>

class CXmlObject;

// The mark a field carries while it holds its own value because it did not take the
// one a customization gave it: a "refused" property the style sheet shows, and the
// reason as the field's tooltip until it is changed.
class CFieldMarks
{
public:
    static void markRefused(CXmlObject* field, const QString& reason);
    static void clear(CXmlObject* field);
    static bool isMarked(const CXmlObject* field);
};
