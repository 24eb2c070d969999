#pragma once

#include <localization/localization_export.h>

#include <QTranslator>
#include <memory>

namespace Localization
{
class Localizer;

// Routes Qt's translation requests to a Localizer. The source text is the key; the
// context, disambiguation and count are not used. A text without translation yields
// a null string, so Qt shows the source text.
class LOCALIZATION_EXPORT QtStringsTranslator : public QTranslator
{
    Q_OBJECT
public:
    // With an empty localizer the process-wide one (GetInstance()) is asked at each call.
    explicit QtStringsTranslator(QObject* parent = nullptr,
                                 std::shared_ptr<Localizer> localizer = {});
    ~QtStringsTranslator() override;

    QString translate(const char* context, const char* sourceText,
                      const char* disambiguation = nullptr, int n = -1) const override;
    // Never empty: the translations come from the localizer, not from a loaded file.
    bool isEmpty() const override;

private:
    std::shared_ptr<Localizer> m_pLocalizer;
};

} // namespace Localization
