#include "ProxyHandler.h"

#include "EmptyProxy.h"
#include "OSXProxy.h"
#include "PreferencesProxy.h"

namespace QtDownloader
{

const QString ProxyHandler::SCHEME_ALL = QStringLiteral("all");
const QString ProxyHandler::SCHEME_NONE = QStringLiteral("none");
const std::wstring ProxyHandler::PROXY_INFORMATION_PATH = L"Software/Ombrel/ProxyInformation";
const std::wstring ProxyHandler::PROXY_INFORMATION_HOST = L"HttpProxyHost";
const std::wstring ProxyHandler::PROXY_INFORMATION_PORT = L"HttpProxyPort";

ProxyHandler::ProxyHandler(eProxyType type) : m_Type(type) {}

ProxyHandler::~ProxyHandler() = default;

std::shared_ptr<ProxyHandler> ProxyHandler::Create(eProxyType type)
{
    switch (type)
    {
    case System:
        return std::make_shared<OSXProxy>();
    case Preferences:
        return std::make_shared<PreferencesProxy>();
    case PreferencesOrSystem:
    {
        auto stored = std::make_shared<PreferencesProxy>();
        if (!stored->GetProxies().isEmpty())
            return stored;
        return std::make_shared<OSXProxy>();
    }
    default:
        return std::make_shared<EmptyProxy>();
    }
}

std::shared_ptr<ProxyHandler> ProxyHandler::CreateSystemProxy()
{
    return std::make_shared<OSXProxy>();
}

void ProxyHandler::UpdateCredentials(const QString& host, quint16 port, const QString& user,
                                     const QString& password)
{
    for (auto it = m_lProxies.begin(); it != m_lProxies.end(); ++it)
    {
        if (it->hostName() == host && it->port() == port)
        {
            it->setUser(user);
            it->setPassword(password);
        }
    }
}

} // namespace QtDownloader
