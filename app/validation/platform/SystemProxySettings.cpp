#include "SystemProxySettings.h"

#include <QNetworkProxy>
#include <QNetworkProxyFactory>

namespace QtDownloader
{

SystemProxySettings::Entry SystemProxySettings::read(const QString& scheme)
{
    Entry entry;
    QNetworkProxyQuery query;
    query.setQueryType(QNetworkProxyQuery::UrlRequest);
    query.setProtocolTag(scheme);
    const QList<QNetworkProxy> proposed = QNetworkProxyFactory::systemProxyForQuery(query);
    for (const QNetworkProxy& proxy : proposed)
    {
        if (proxy.type() != QNetworkProxy::HttpProxy || proxy.hostName().isEmpty())
            continue;
        entry.found = true;
        entry.host = proxy.hostName();
        entry.port = proxy.port();
        entry.hasCredentials = !proxy.user().isEmpty();
        entry.user = proxy.user();
        entry.password = proxy.password();
        break;
    }
    return entry;
}

} // namespace QtDownloader
