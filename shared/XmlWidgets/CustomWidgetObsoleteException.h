#pragma once

#include <QString>
#include <exception>
#include <string>

// Records that a page definition uses an element this tool no longer supports.
// The framework never throws it: it is stored on the root object
// (CXmlObject::setLoadedXmlDeprecated) and its message shown instead of the
// generic parse failure.
class CustomWidgetObsoleteException : public std::exception
{
public:
    explicit CustomWidgetObsoleteException(const QString& message);
    ~CustomWidgetObsoleteException() override;

    // The user-facing message, UTF-8.
    const char* what() const noexcept override;
    QString message() const;

private:
    std::string m_sMessage;
};
