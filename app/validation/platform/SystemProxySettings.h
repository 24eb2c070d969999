#pragma once

#include <QString>

namespace QtDownloader
{

// The operating system's proxy for a scheme, as the platform's network layer
// reports it (the http_proxy/https_proxy environment on Linux), with the
// credentials carried in the proxy address's user information.
class SystemProxySettings
{
public:
    struct Entry
    {
        bool found = false;
        QString host;
        quint16 port = 0;
        bool hasCredentials = false;
        QString user;
        QString password;
    };

    // scheme is "http" or "https".
    static Entry read(const QString& scheme);
};

} // namespace QtDownloader
