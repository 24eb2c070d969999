#include "localization/QtStringsTranslator.h"

#include "localization/Localization.h"
#include "localization/Localizer.h"

#include <utility>

namespace Localization
{

QtStringsTranslator::QtStringsTranslator(QObject* parent, std::shared_ptr<Localizer> localizer)
    : QTranslator(parent), m_pLocalizer(std::move(localizer))
{
}

QtStringsTranslator::~QtStringsTranslator() = default;

QString QtStringsTranslator::translate(const char* /*context*/, const char* sourceText,
                                       const char* /*disambiguation*/, int /*n*/) const
{
    std::shared_ptr<Localizer> localizer = m_pLocalizer ? m_pLocalizer : GetInstance();
    if (!localizer)
        return QString();
    const std::wstring key =
        sourceText ? QString::fromUtf8(sourceText).toStdWString() : std::wstring();
    const std::wstring translation = localizer->GetString(key, std::string());
    if (translation.empty())
        return QString();
    return QString::fromStdWString(translation);
}

bool QtStringsTranslator::isEmpty() const
{
    return false;
}

} // namespace Localization
