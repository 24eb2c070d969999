#pragma once

#include <QString>
#include <QThread>
#include <atomic>

// Computes the SHA-256 of an installer (a file or a bundle) on a thread of its own:
// an installer of gigabytes takes half a minute to read, and the review that shows
// its digest opens before every publish. The result comes by a queued signal; the
// last digest is remembered for as long as the file stays as it was.
class CDigestWorker : public QThread
{
    Q_OBJECT

public:
    explicit CDigestWorker(const QString& path, QObject* parent = nullptr);
    // Stops the reading and waits for the thread, which is quick: it looks for the
    // stop between blocks.
    ~CDigestWorker() override;

    // The digest of path computed before, when the file still has the size and time
    // it had then; empty otherwise.
    static QString known(const QString& path);

signals:
    // digest is empty when the installer could not be read.
    void computed(const QString& digest);

protected:
    void run() override;

private:
    QString m_sPath;
    std::atomic_bool m_bCanceled{false};
};
