#include "EmptyProxy.h"

namespace QtDownloader
{

EmptyProxy::EmptyProxy() : ProxyHandler(None) {}

EmptyProxy::~EmptyProxy() = default;

QString EmptyProxy::ReduceToOverride() const
{
    return QString();
}

bool EmptyProxy::ShouldBypass(const QUrl& /*url*/) const
{
    return false;
}

void EmptyProxy::AddProxyForURL(const QUrl& /*url*/) {}

} // namespace QtDownloader
