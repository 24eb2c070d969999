#pragma once

#include <QFile>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QThread>

// Reads self-extracting script installers and writes customized copies of them on
// its own thread: the copy carries a block of shell "export" lines before the
// "## END OF HEADER" line, and its skip_lines count is corrected so that the stub
// still finds its payload. The payload is streamed in fixed pieces of 1 MiB.
class CPackagerThread : public QThread
{
    Q_OBJECT

public:
    explicit CPackagerThread(QObject* parent = nullptr);
    // Stops a running copy and waits for it.
    ~CPackagerThread() override;

    // Called only while no copy runs.
    void addProperty(const QString& name, const QString& value);
    void clearProperties();

    // The page definition embedded in the script's header; fills the display name
    // and the version text from the header lines. Empty when nothing can be read.
    static QByteArray readPackageXml(const QString& path, QString& displayName, QString& version);

public slots:
    void writePackage(const QString& src, const QString& dst);
    void stop();

signals:
    void openFileError(const QString& sFile);
    void fileReadError(const QString& sFile);
    void fileWriteError(const QString& sFile);
    void progress(qint64 iCurrent, qint64 iTotal);

protected:
    void run() override;

private:
    bool keepRunning();
    void copyPayload(QFile& source, QFile& destination, qint64 total);
    QByteArray customizationBlock() const;

    QList<QPair<QString, QString>> m_lProperties;
    QMutex m_lock;
    bool m_bRunning;
    QString m_sSource;
    QString m_sDestination;
};
