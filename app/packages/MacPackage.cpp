#include "MacPackage.h"

#include "BoundedFile.h"
#include "ToolRunner.h"

#include <QDebug>
#include <QDir>
#include <QFile>

namespace
{
const int kToolLimitMs = 30000;
}

CMacPackage::CMacPackage(const QFileInfo& file) : CPackage(file)
{
    qDebug().nospace().noquote() << "CMacPackage::CMacPackage(" << file.absoluteFilePath()
                                 << ") begin";
    const QDir bundle(file.absoluteFilePath());
    const QString configPath =
        bundle.absoluteFilePath(QStringLiteral("Contents/Resources/AdminConfig.xml"));
    QString error;
    if (CBoundedFile::read(configPath, CBoundedFile::kMaxDocumentBytes, m_xml, &error))
    {
        const QString info = bundle.absoluteFilePath(QStringLiteral("Contents/Info"));
        // "defaults" is only asked about a plain file: a FIFO or a device there
        // would hold it until its time limit.
        if (CBoundedFile::isRegularFile(info + QStringLiteral(".plist")))
        {
            bool finished = false;
            const QByteArray name = readDefault(info, QStringLiteral("CFBundleName"), &finished);
            if (finished)
                m_sProduct = QString::fromUtf8(name);
            const QByteArray version =
                readDefault(info, QStringLiteral("CFBundleShortVersionString"), &finished);
            if (finished)
                m_version.parse(QString::fromLatin1(version).toStdWString());
        }
        else
            qDebug().noquote() << "CMacPackage:" << info + QStringLiteral(".plist")
                               << "is missing or not a regular file";
    }
    else
    {
        qDebug().noquote() << "CMacPackage: no readable page definition:" << error;
        // Only inside a real bundle does the reason tell the user more than the verdict.
        if (file.isDir())
            setProblem(error);
    }
    qDebug().nospace().noquote() << "CMacPackage::CMacPackage(" << file.absoluteFilePath()
                                 << ") end";
}

bool CMacPackage::isValid()
{
    return !m_version.isEmpty() && !m_sProduct.isEmpty() && !m_xml.isEmpty();
}

QByteArray CMacPackage::readDefault(const QString& plistPath, const QString& key, bool* finished)
{
    const CToolRunner::Result result =
        CToolRunner::run(QStringLiteral("defaults"), {QStringLiteral("read"), plistPath, key},
                         QString(), kToolLimitMs);
    if (finished)
        *finished = result.finished;
    return result.finished ? CToolRunner::cleanOutput(result.output) : QByteArray();
}
