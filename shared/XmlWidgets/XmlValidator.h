#pragma once

#include <QString>

class TiXmlElement;

// Hook through which the application accepts or drops elements before the
// framework creates anything for them (the main window filters by package and
// command-line flag).
class CXmlValidator
{
public:
    virtual ~CXmlValidator();

    // 0 keeps the element, 2 skips it silently, 1 is an error (message in error).
    virtual int validateXml(TiXmlElement* element, QString& error) = 0;
};
