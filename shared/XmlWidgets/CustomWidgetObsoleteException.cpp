#include "CustomWidgetObsoleteException.h"

CustomWidgetObsoleteException::CustomWidgetObsoleteException(const QString& message)
    : m_sMessage(message.toStdString())
{
}

CustomWidgetObsoleteException::~CustomWidgetObsoleteException() = default;

const char* CustomWidgetObsoleteException::what() const noexcept
{
    return m_sMessage.c_str();
}

QString CustomWidgetObsoleteException::message() const
{
    return QString::fromStdString(m_sMessage);
}
