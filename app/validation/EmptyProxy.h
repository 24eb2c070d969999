#pragma once

#include "ProxyHandler.h"

namespace QtDownloader
{

// No proxy at all.
class EmptyProxy : public ProxyHandler
{
public:
    EmptyProxy();
    ~EmptyProxy() override;

    QString ReduceToOverride() const override;
    bool ShouldBypass(const QUrl& url) const override;
    void AddProxyForURL(const QUrl& url) override;
};

} // namespace QtDownloader
