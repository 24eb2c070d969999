#pragma once

#include "Package.h"

#include <QDir>

// A disk image ("*.dmg") holding a package. The image is attached only while it is
// read and again while a publish copies from it.
class CDmgPackage : public CPackage
{
public:
    explicit CDmgPackage(const QFileInfo& file);
    // Unmounts the image, deletes the sub-package and removes the mount point.
    ~CDmgPackage() override;

    bool mount();
    bool unmount();
    // False when the image asks for a license agreement, which cannot be answered here.
    bool isSupportedDmg();
    bool isMounted() const { return m_bMounted; }
    QDir mountPoint() const { return m_mountPoint; }

    bool isContainer() override { return true; }
    bool isValid() override;
    QByteArray xml() override;
    QString product() override;
    orbilib::utils::CVersion version() override;
    QString os() const override { return QStringLiteral("mac"); }
    CPackage* subPackage() const override { return m_pSubPackage; }

private:
    void readImage();

    bool m_bMounted;
    CPackage* m_pSubPackage;
    QDir m_mountPoint;
    // False when the system could not make the mount point: nothing is attached then.
    bool m_bHasMountPoint;
};
