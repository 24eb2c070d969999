#pragma once

#include <QByteArray>
#include <QString>

// Thrown by a flat package's constructor when the package already carries a
// customization (AdminConfigModified.xml) and the caller did not ask to ignore it.
class CustomizedFlatPackage_Exception
{
public:
    CustomizedFlatPackage_Exception(const QByteArray& customization, const QString& packagePath)
        : m_customization(customization), m_sPackagePath(packagePath)
    {
    }

    const QByteArray& customization() const { return m_customization; }
    const QString& packagePath() const { return m_sPackagePath; }

private:
    QByteArray m_customization;
    QString m_sPackagePath;
};
