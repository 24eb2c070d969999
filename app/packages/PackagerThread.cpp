#include "PackagerThread.h"

#include "BoundedFile.h"
#include "FileDescriptorIo.h"

#include <QDebug>
#include <QFile>
#include <QMutexLocker>

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace
{
// Lines of the stub are read in at most this many bytes.
const qint64 kChunkSize = 10240;
// The payload is copied in pieces of this size: memory stays fixed, whatever its size.
const qint64 kPayloadPiece = 1024 * 1024;

using FileDescriptorIo::copyRange;
using FileDescriptorIo::kHasCopyRange;
using FileDescriptorIo::writeAll;

bool startsWith(const QByteArray& line, const char* marker)
{
    const int length = int(std::strlen(marker));
    return line.size() >= length && qstrnicmp(line.constData(), marker, uint(length)) == 0;
}

// A header value without its line end; the last line of a file may have none.
QByteArray withoutLineEnd(QByteArray value)
{
    if (value.endsWith('\n'))
        value.chop(1);
    if (value.endsWith('\r'))
        value.chop(1);
    return value;
}

bool isEndOfStub(const QByteArray& line)
{
    return line.size() >= 14 && startsWith(line, "## END OF STUB");
}

// What the writer does with one line of the stub.
enum class LineAction
{
    BeginBlock,  // an old customization block starts: dropped
    EndBlock,    // the old block ends: dropped
    SkipLines,   // the payload offset: rewritten
    EndOfHeader, // the new block goes before it
    Skipped,     // inside an old block: dropped
    Copied       // written unchanged
};

LineAction classify(const QByteArray& line, bool skipping)
{
    if (line.size() >= 28 && startsWith(line, "## BEGIN KORVA CUSTOMIZATION"))
        return LineAction::BeginBlock;
    if (line.size() >= 26 && startsWith(line, "## END KORVA CUSTOMIZATION"))
        return LineAction::EndBlock;
    if (line.size() >= 10 && startsWith(line, "skip_line"))
        return LineAction::SkipLines;
    if (line.size() >= 16 && startsWith(line, "## END OF HEADER"))
        return LineAction::EndOfHeader;
    if (skipping)
        return LineAction::Skipped;
    return LineAction::Copied;
}

const char* const kSkipLinesFormat = "skip_lines=\"%1\"\n";

QByteArray skipLinesLine(const QByteArray& line, qint64 lineDelta)
{
    QByteArray number = line.mid(11);
    number.replace('"', QByteArray());
    bool ok = false;
    qint64 value = number.simplified().toLongLong(&ok, 10);
    if (!ok)
        value = 0;
    return QString::fromLatin1(kSkipLinesFormat).arg(value + lineDelta).toLatin1();
}

// Reads one line of at most kChunkSize - 1 bytes; false on a read error.
bool readLine(QFile& file, QByteArray& line)
{
    line.resize(int(kChunkSize));
    const qint64 read = file.readLine(line.data(), kChunkSize);
    if (read < 0)
    {
        line.clear();
        return file.atEnd();
    }
    line.resize(int(read));
    return true;
}
} // namespace

CPackagerThread::CPackagerThread(QObject* parent) : QThread(parent), m_bRunning(false) {}

CPackagerThread::~CPackagerThread()
{
    stop();
    wait();
}

void CPackagerThread::addProperty(const QString& name, const QString& value)
{
    m_lProperties.append(qMakePair(name, value));
}

void CPackagerThread::clearProperties()
{
    m_lProperties.clear();
}

void CPackagerThread::writePackage(const QString& src, const QString& dst)
{
    qDebug().nospace().noquote() << "CPackagerThread::writePackage(" << src << ") begin";
    if (QThread::isRunning())
    {
        // The paths of the copy in progress must not change under it.
        qDebug() << "CPackagerThread::writePackage() ignored: a copy is still running";
        return;
    }
    m_sSource = src;
    m_sDestination = dst;
    {
        // Set here rather than in run() so that a stop() right after this call counts.
        QMutexLocker locker(&m_lock);
        m_bRunning = true;
    }
    start(QThread::InheritPriority);
    qDebug().nospace().noquote() << "CPackagerThread::writePackage(" << src << ") end";
}

void CPackagerThread::stop()
{
    qDebug() << "CPackagerThread::stop()";
    QMutexLocker locker(&m_lock);
    m_bRunning = false;
}

bool CPackagerThread::keepRunning()
{
    QMutexLocker locker(&m_lock);
    return m_bRunning;
}

QByteArray CPackagerThread::customizationBlock() const
{
    QByteArray block("## BEGIN KORVA CUSTOMIZATION\n");
    for (const QPair<QString, QString>& property : m_lProperties)
    {
        QString value = property.second;
        value.replace(QLatin1Char('\''), QLatin1String("'\"'\"'"));
        block += "export " + property.first.toUtf8() + "='" + value.toUtf8() + "'\n";
    }
    block += "## END KORVA CUSTOMIZATION\n";
    return block;
}

QByteArray CPackagerThread::readPackageXml(const QString& path, QString& displayName,
                                           QString& version)
{
    qDebug().nospace().noquote() << "CPackagerThread::readPackageXml(" << path << ") begin";
    QFile file(path);
    // A FIFO or a device named like an installer would block or never end.
    if (!CBoundedFile::isRegularFile(path, true) || !file.open(QIODevice::ReadOnly))
    {
        qDebug() << "CPackagerThread::readPackageXml() cannot open" << path << file.errorString();
        return QByteArray();
    }
    QByteArray collected;
    bool inside = false;
    QByteArray line;
    while (!file.atEnd())
    {
        if (!readLine(file, line))
        {
            qDebug() << "CPackagerThread::readPackageXml() read failed:" << file.errorString();
            return QByteArray();
        }
        if (line.size() >= 19 && startsWith(line, "# SoftwareVersion "))
            version = QString::fromUtf8(withoutLineEnd(line.mid(18)));
        else if (line.size() >= 18 && startsWith(line, "# DisplayName en "))
            displayName = QString::fromUtf8(withoutLineEnd(line.mid(17)));
        else if (isEndOfStub(line))
            break;
        else if (!inside && line.size() >= 22 && startsWith(line, "## BEGIN OF XML CONFIG"))
            inside = true;
        else if (inside && line.size() >= 20 && startsWith(line, "## END OF XML CONFIG"))
            break;
        else if (inside)
        {
            collected += line.mid(1);
            if (collected.size() > CBoundedFile::kMaxDocumentBytes)
            {
                qDebug() << "CPackagerThread::readPackageXml():" << path
                         << "holds a page definition larger than the limit of"
                         << CBoundedFile::kMaxDocumentBytes << "bytes";
                return QByteArray();
            }
        }
    }
    qDebug().nospace().noquote() << "CPackagerThread::readPackageXml(" << path << ") end";
    return collected;
}

void CPackagerThread::copyPayload(QFile& source, QFile& destination, qint64 total)
{
    // The payload is copied as it is, in fixed pieces, by the kernel where it can; the
    // destination is unbuffered, so its descriptor's offset is where the stub ended.
    const int in = source.handle();
    const int out = destination.handle();
    off_t offset = off_t(source.pos());
    bool useCopyRange = kHasCopyRange;
    std::vector<char> piece;
    while (offset < total)
    {
        if (!keepRunning())
        {
            qDebug() << "CPackagerThread::run() stopped";
            return;
        }
        const size_t wanted = size_t(qMin<qint64>(kPayloadPiece, total - offset));
        ssize_t done = -1;
        if (useCopyRange)
        {
            done = copyRange(in, &offset, out, wanted);
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
            {
                // Not offered between these files, or a failure that reading and
                // writing separately will tell apart.
                useCopyRange = false;
                continue;
            }
        }
        else
        {
            if (piece.empty())
                piece.resize(size_t(kPayloadPiece));
            done = ::pread(in, piece.data(), wanted, offset);
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
            {
                qDebug() << "CPackagerThread: read failed:" << qt_error_string(errno);
                emit fileReadError(m_sSource);
                return;
            }
            offset += done;
            if (!writeAll(out, piece.data(), size_t(done)))
                emit fileWriteError(m_sDestination);
        }
        emit progress(qint64(offset), total);
    }
}

void CPackagerThread::run()
{
    qDebug() << "CPackagerThread::run() begin";
    QFile source(m_sSource);
    if (!source.open(QIODevice::ReadOnly))
    {
        qDebug() << "CPackagerThread: cannot open" << m_sSource << source.errorString();
        emit openFileError(m_sSource);
        return;
    }
    QFile destination(m_sDestination);
    if (!destination.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered))
    {
        qDebug() << "CPackagerThread: cannot open" << m_sDestination << destination.errorString();
        emit openFileError(m_sDestination);
        return;
    }
    const qint64 total = source.size();
    emit progress(source.pos(), total);

    const QByteArray block = customizationBlock();
    const qint64 blockLines = block.count('\n');

    // The stub is read once ahead to learn how many lines the copy gains or loses,
    // wherever an old block stands relative to skip_lines and whatever line breaks
    // the values hold.
    qint64 lineDelta = 0;
    {
        bool skipping = false;
        QByteArray line;
        while (!source.atEnd())
        {
            if (!readLine(source, line))
            {
                emit fileReadError(m_sSource);
                return;
            }
            const qint64 lines = line.count('\n');
            const LineAction action = classify(line, skipping);
            switch (action)
            {
            case LineAction::BeginBlock:
                skipping = true;
                lineDelta -= lines;
                break;
            case LineAction::EndBlock:
                skipping = false;
                lineDelta -= lines;
                break;
            case LineAction::SkipLines:
                lineDelta += 1 - lines;
                break;
            case LineAction::EndOfHeader:
                lineDelta += blockLines;
                break;
            case LineAction::Skipped:
                lineDelta -= lines;
                break;
            case LineAction::Copied:
                break;
            }
            if (action == LineAction::Copied && isEndOfStub(line))
                break;
        }
        if (!source.seek(0))
        {
            emit fileReadError(m_sSource);
            return;
        }
    }

    bool binary = false;
    bool skipping = false;
    bool ok = true;
    QByteArray buffer;
    buffer.reserve(int(kChunkSize));
    while (!binary && !source.atEnd())
    {
        if (!keepRunning())
        {
            qDebug() << "CPackagerThread::run() stopped";
            ok = false;
            break;
        }
        if (!readLine(source, buffer))
        {
            emit fileReadError(m_sSource);
            ok = false;
            break;
        }
        QByteArray out;
        switch (classify(buffer, skipping))
        {
        case LineAction::BeginBlock:
            skipping = true;
            break;
        case LineAction::EndBlock:
            skipping = false;
            break;
        case LineAction::SkipLines:
            out = skipLinesLine(buffer, lineDelta);
            break;
        case LineAction::EndOfHeader:
            out = block + buffer;
            break;
        case LineAction::Skipped:
            break;
        case LineAction::Copied:
            binary = isEndOfStub(buffer);
            out = buffer;
            break;
        }
        if (!out.isEmpty() && destination.write(out) != out.size())
            emit fileWriteError(m_sDestination);
        emit progress(source.pos(), total);
    }
    if (ok && binary)
        copyPayload(source, destination, total);
    // Buffered bytes reach the disk here; a full disk shows up now at the latest.
    if (!destination.flush())
        emit fileWriteError(m_sDestination);
    destination.close();
    source.close();
    qDebug() << "CPackagerThread::run() end";
}
