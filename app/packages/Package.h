#pragma once

#include <utils/Version.h>

#include <QByteArray>
#include <QFileInfo>
#include <QString>

// One opened file: an installer package of any supported kind or a saved
// customization. Everything is read while the object is constructed; afterwards
// it only answers questions.
class CPackage
{
public:
    explicit CPackage(const QFileInfo& file);
    virtual ~CPackage();

    CPackage(const CPackage&) = delete;
    CPackage& operator=(const CPackage&) = delete;

    virtual QFileInfo file() const;
    // True when the package wraps another package.
    virtual bool isContainer() = 0;
    // True when the package can be opened for customization.
    virtual bool isValid() = 0;
    virtual bool isValidButNotCustomizable();
    // The page definition of an installer, or the document of a customization.
    virtual QByteArray xml() = 0;
    virtual QString product() = 0;
    virtual orbilib::utils::CVersion version() = 0;
    // "mac", "linux", "windows" or empty.
    virtual QString os() const = 0;
    // The wrapped package, or null.
    virtual CPackage* subPackage() const = 0;
    // Why the package could not be read, for the user (a limit it passed, a file that
    // is not what it should be); empty when nothing particular is known.
    virtual QString problem() const;

protected:
    // Keeps the first reason reading failed.
    void setProblem(const QString& problem);

    QFileInfo m_file;
    QString m_sProblem;
};
