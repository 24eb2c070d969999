#include "OSXProxy.h"

#include "platform/SystemProxySettings.h"

namespace QtDownloader
{

OSXProxy::OSXProxy() : ProxyHandler(System)
{
    for (const QString& scheme : {QStringLiteral("http"), QStringLiteral("https")})
    {
        QNetworkProxy record;
        const SystemProxySettings::Entry entry = SystemProxySettings::read(scheme);
        if (entry.found)
        {
            record.setHostName(entry.host);
            record.setPort(entry.port);
            if (entry.hasCredentials)
            {
                record.setUser(entry.user);
                record.setPassword(entry.password);
            }
        }
        m_lProxies.insert(scheme, record);
    }
}

OSXProxy::~OSXProxy() = default;

QString OSXProxy::ReduceToOverride() const
{
    return QString();
}

bool OSXProxy::ShouldBypass(const QUrl& /*url*/) const
{
    return false;
}

void OSXProxy::AddProxyForURL(const QUrl& /*url*/) {}

} // namespace QtDownloader
