#pragma once

#include <QString>

// One "url" child of a "validateurl" action: what to fetch and how to judge it.
struct WebResource
{
    QString name;
    QString url;
    QString statusValidation;
    QString contentValidation;
};
