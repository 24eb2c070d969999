#pragma once

#include <QMap>
#include <QNetworkProxy>
#include <QString>
#include <QUrl>
#include <memory>
#include <string>

namespace QtDownloader
{

// Which proxy applies to the web checks: the operating system's settings, a
// proxy stored in the preferences, or none. Proxies are kept per scheme name.
class ProxyHandler
{
public:
    enum eProxyType
    {
        System = 1,
        Preferences = 2,
        None = 4,
        // A request to Create only: the stored proxy when there is one, else the system's.
        PreferencesOrSystem = 5
    };

    typedef QMap<QString, QNetworkProxy> ProxyMap;

    static const QString SCHEME_ALL;
    static const QString SCHEME_NONE;
    static const std::wstring PROXY_INFORMATION_PATH;
    static const std::wstring PROXY_INFORMATION_HOST;
    static const std::wstring PROXY_INFORMATION_PORT;

    virtual ~ProxyHandler();

    // "host:port" of a proxy that overrides every scheme, or empty.
    virtual QString ReduceToOverride() const = 0;
    virtual bool ShouldBypass(const QUrl& url) const = 0;
    virtual void AddProxyForURL(const QUrl& url) = 0;

    static std::shared_ptr<ProxyHandler> Create(eProxyType type);
    static std::shared_ptr<ProxyHandler> CreateSystemProxy();

    // Sets the credentials of every proxy with exactly this host and port.
    void UpdateCredentials(const QString& host, quint16 port, const QString& user,
                           const QString& password);

    const ProxyMap& GetProxies() const { return m_lProxies; }
    eProxyType GetType() const { return m_Type; }

protected:
    explicit ProxyHandler(eProxyType type);

    ProxyMap m_lProxies;
    eProxyType m_Type;
};

} // namespace QtDownloader
