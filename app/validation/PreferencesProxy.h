#pragma once

#include "ProxyHandler.h"

namespace QtDownloader
{

// The HTTP proxy stored in the application's preferences (host and port under
// PROXY_INFORMATION_PATH), serving every scheme; type None when none is stored.
class PreferencesProxy : public ProxyHandler
{
public:
    PreferencesProxy();
    ~PreferencesProxy() override;

    QString ReduceToOverride() const override;
    bool ShouldBypass(const QUrl& url) const override;
    void AddProxyForURL(const QUrl& url) override;
};

} // namespace QtDownloader
