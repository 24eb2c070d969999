#include "localization/Localization.h"

#include "localization/Localizer.h"

#include "LanguageCode.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QtDebug>
#include <cstdlib>
#include <mutex>

namespace Localization
{
namespace
{

std::mutex g_mutex;
std::shared_ptr<Localizer> g_pInstance;

QString executableDirectory()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Before the application object exists, ask the system for our own binary.
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    const QString target = self.symLinkTarget();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
}

std::vector<std::wstring> defaultSearchDirectories()
{
    QStringList candidates;
    const char* fromEnvironment = std::getenv("TESSARY_STRINGS_DIR");
    if (fromEnvironment && *fromEnvironment)
        candidates << QString::fromLocal8Bit(fromEnvironment);
    const QString executable = executableDirectory();
    if (!executable.isEmpty())
        candidates << QDir::cleanPath(executable + QStringLiteral("/../share/tessary/strings"));
    candidates << QStringLiteral(":/strings");

    std::vector<std::wstring> directories;
    for (const QString& candidate : candidates)
    {
        if (QFileInfo(candidate).isDir())
            directories.push_back(candidate.toStdWString());
    }
    return directories;
}

} // namespace

void Initialize(const std::wstring& applicationName, const std::wstring& tableName,
                const std::wstring& resourceDirectory,
                const std::shared_ptr<Preference::PreferenceSelector>& /*selector*/)
{
    const QString name = QString::fromStdWString(applicationName);
    qDebug().noquote() << QStringLiteral("Localization::Initialize(%1) begin").arg(name);
    // The language comes from the environment; no stored preference overrides it.
    std::vector<std::wstring> directories;
    if (resourceDirectory.empty())
        directories = defaultSearchDirectories();
    else
        directories.push_back(resourceDirectory);
    auto localizer =
        std::make_shared<Localizer>(applicationName, tableName.empty() ? L"Localizable" : tableName,
                                    std::move(directories), Localizer::LanguageFromEnvironment());
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_pInstance = std::move(localizer);
    }
    qDebug().noquote() << QStringLiteral("Localization::Initialize(%1) end").arg(name);
}

std::shared_ptr<Localizer> GetInstance()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_pInstance;
}

void UnInitialize()
{
    std::shared_ptr<Localizer> released;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        released.swap(g_pInstance);
    }
}

} // namespace Localization
