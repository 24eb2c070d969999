#include "DigestWorker.h"

#include "ReviewReport.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace
{
QMutex s_knownLock;
QString s_sKnownKey;
QString s_sKnownDigest;

// What tells a changed file from the one digested. A bundle's folder does not
// change with the files inside it: its digest is never taken as known.
QString keyOf(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return QString();
    return path + QLatin1Char('\n') + QString::number(info.size()) + QLatin1Char('\n') +
           QString::number(info.lastModified().toMSecsSinceEpoch());
}
} // namespace

CDigestWorker::CDigestWorker(const QString& path, QObject* parent) : QThread(parent), m_sPath(path)
{
}

CDigestWorker::~CDigestWorker()
{
    m_bCanceled = true;
    wait();
}

QString CDigestWorker::known(const QString& path)
{
    const QString key = keyOf(path);
    QMutexLocker locker(&s_knownLock);
    return !key.isEmpty() && key == s_sKnownKey ? s_sKnownDigest : QString();
}

void CDigestWorker::run()
{
    const QString before = keyOf(m_sPath);
    const QString digest = CReviewReport::sha256Of(m_sPath, &m_bCanceled);
    if (m_bCanceled)
        return;
    // A file that changed while it was read is not remembered.
    if (!digest.isEmpty() && !before.isEmpty() && keyOf(m_sPath) == before)
    {
        QMutexLocker locker(&s_knownLock);
        s_sKnownKey = before;
        s_sKnownDigest = digest;
    }
    emit computed(digest);
}
