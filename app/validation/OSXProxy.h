#pragma once

#include "ProxyHandler.h"

namespace QtDownloader
{

// The operating system's proxy settings for "http" and "https", with the
// credentials the system keeps for them, read once at construction.
class OSXProxy : public ProxyHandler
{
public:
    OSXProxy();
    ~OSXProxy() override;

    QString ReduceToOverride() const override;
    bool ShouldBypass(const QUrl& url) const override;
    void AddProxyForURL(const QUrl& url) override;
};

} // namespace QtDownloader
