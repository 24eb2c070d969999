#include "localization/Localizer.h"

#include "LanguageCode.h"
#include "StringsTable.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <utility>

namespace Localization
{
namespace
{

std::vector<std::wstring> languageChain(const std::wstring& code)
{
    std::vector<std::wstring> chain;
    for (const QString& language : LanguageCode::fallbackChain(QString::fromStdWString(code)))
        chain.push_back(language.toStdWString());
    return chain;
}

// A table name becomes part of a file name: refuse anything that could leave the
// resource directory.
bool isSafeTableName(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
           name != QLatin1String("..") && !name.contains(QChar(0));
}

} // namespace

Localizer::Localizer(std::wstring applicationName, std::wstring defaultTableName,
                     std::vector<std::wstring> searchDirectories, std::wstring languageCode)
    : m_sApplicationName(std::move(applicationName)),
      m_sDefaultTableName(std::move(defaultTableName)),
      m_lSearchDirectories(std::move(searchDirectories)), m_sLanguageCode(std::move(languageCode)),
      m_lLanguageChain(languageChain(m_sLanguageCode))
{
}

Localizer::~Localizer() = default;

std::wstring Localizer::GetString(const std::wstring& key, const std::string& table) const
{
    const std::wstring tableName =
        table.empty() ? m_sDefaultTableName : QString::fromStdString(table).toStdWString();
    for (const std::wstring& language : m_lLanguageChain)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (const std::wstring* value = this->table(language, tableName).find(key))
        {
            if (!value->empty())
                return *value;
        }
    }
    return std::wstring();
}

std::wstring Localizer::GetLanguageCode() const
{
    return m_sLanguageCode;
}

std::wstring Localizer::GetApplicationName() const
{
    return m_sApplicationName;
}

std::vector<std::wstring> Localizer::GetSearchDirectories() const
{
    return m_lSearchDirectories;
}

std::wstring Localizer::LanguageFromEnvironment()
{
    return LanguageCode::fromEnvironment().toStdWString();
}

const StringsTable& Localizer::table(const std::wstring& language,
                                     const std::wstring& tableName) const
{
    auto& slot = m_lTables[std::make_pair(language, tableName)];
    if (slot)
        return *slot;
    slot = std::make_unique<StringsTable>();
    const QString name = QString::fromStdWString(tableName);
    if (!isSafeTableName(name))
        return *slot;
    const QString relative = QString::fromStdWString(language) + QStringLiteral(".lproj/") + name +
                             QStringLiteral(".strings");
    for (const std::wstring& directory : m_lSearchDirectories)
    {
        const QString path = QDir(QString::fromStdWString(directory)).filePath(relative);
        if (QFileInfo(path).isFile())
        {
            *slot = StringsTable::fromFile(path);
            break;
        }
    }
    return *slot;
}

} // namespace Localization
