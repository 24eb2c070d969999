#include "PreferencesProxy.h"

#include <QDebug>
#include <exception>
#include <preference/Preference.h>

namespace QtDownloader
{

PreferencesProxy::PreferencesProxy() : ProxyHandler(None)
{
    const boost::shared_ptr<Preference::PreferenceBase> store =
        Preference::Get(Preference::ScopeApplication);
    if (!store)
        return;
    std::wstring host;
    int port = 8080;
    try
    {
        store->Read(PROXY_INFORMATION_PATH, PROXY_INFORMATION_HOST, host, std::wstring());
        if (host.empty())
            return;
        store->Read(PROXY_INFORMATION_PATH, PROXY_INFORMATION_PORT, port, 8080);
    }
    catch (const std::exception& e)
    {
        // A port that is not a number is as good as none.
        qWarning().noquote() << "PreferencesProxy: unreadable stored proxy port:" << e.what();
        port = 8080;
    }
    if (port < 0 || port > 65535)
    {
        qWarning().noquote() << "PreferencesProxy: stored proxy port out of range:" << port;
        port = 8080;
    }
    m_lProxies.insert(SCHEME_ALL, QNetworkProxy(QNetworkProxy::HttpProxy,
                                                QString::fromStdWString(host), quint16(port)));
    m_Type = Preferences;
}

PreferencesProxy::~PreferencesProxy() = default;

QString PreferencesProxy::ReduceToOverride() const
{
    const auto it = m_lProxies.constFind(SCHEME_ALL);
    if (it == m_lProxies.constEnd())
        return QString();
    return QStringLiteral("%1:%2").arg(it->hostName()).arg(it->port());
}

bool PreferencesProxy::ShouldBypass(const QUrl& /*url*/) const
{
    return false;
}

void PreferencesProxy::AddProxyForURL(const QUrl& /*url*/) {}

} // namespace QtDownloader
