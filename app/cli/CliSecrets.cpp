#include "CliSecrets.h"

#include "app/document/Document.h"
#include "app/document/SecretProperty.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QString tr(const char* text)
{
    return QCoreApplication::translate("CCliSecrets", text);
}
} // namespace

QString CCliSecrets::variableName(const QString& property)
{
    QString name = property.toUpper();
    for (QChar& c : name)
    {
        const bool plain = (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           c == QLatin1Char('_');
        if (!plain)
            c = QLatin1Char('_');
    }
    return QStringLiteral("TESSARY_SECRET_") + name;
}

QString CCliSecrets::exposedMode(unsigned int mode)
{
    if ((mode & 066) == 0)
        return QString();
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

bool CCliSecrets::readFile(const QString& path, QString& error, bool allowInsecure)
{
    qDebug().noquote() << "CCliSecrets::readFile(" + path + ") begin";
    const QString shown = QDir::toNativeSeparators(path);
    // Opened without waiting (a pipe or a device would block) and checked on the
    // descriptor itself, so that what is checked is what is read.
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    if (descriptor < 0)
    {
        error = tr("The secrets file \"%1\" cannot be read.").arg(shown);
        return false;
    }
    struct stat status;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
    {
        ::close(descriptor);
        error = tr("The secrets file \"%1\" is not a regular file.").arg(shown);
        return false;
    }
    if (status.st_size > MaxFileSize)
    {
        ::close(descriptor);
        error = tr("The secrets file \"%1\" is larger than %2 bytes.").arg(shown).arg(MaxFileSize);
        return false;
    }
    // As ssh does with keys: secrets others may read are no longer secret, and a file
    // others may write gives values nobody chose.
    const QString mode = exposedMode(status.st_mode);
    if (!mode.isEmpty())
    {
        const QString text = tr("The secrets file \"%1\" can be read or written by others "
                                "(mode %2); make it its owner's alone (chmod 600 \"%1\")")
                                 .arg(shown, mode);
        if (!allowInsecure)
        {
            ::close(descriptor);
            error = text + tr(", or pass --allow-insecure-secrets-file.");
            return false;
        }
        m_lWarnings << text + tr("; used as --allow-insecure-secrets-file asks.");
    }
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
    {
        ::close(descriptor);
        error = tr("The secrets file \"%1\" cannot be read.").arg(shown);
        return false;
    }
    // The file may grow after the check: never more than the limit is read.
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (bytes.size() > MaxFileSize)
    {
        error = tr("The secrets file \"%1\" is larger than %2 bytes.").arg(shown).arg(MaxFileSize);
        return false;
    }
    m_sFile = shown;
    m_values.clear();
    m_lines.clear();
    const QList<QByteArray> lines = bytes.split('\n');
    for (int i = 0; i < lines.size(); ++i)
    {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith('#'))
            continue;
        const int equals = line.indexOf('=');
        const QString name = QString::fromUtf8(line.left(equals)).trimmed();
        if (equals <= 0 || name.isEmpty())
        {
            error =
                tr("Line %1 of the secrets file \"%2\" is not NAME=VALUE.").arg(i + 1).arg(shown);
            return false;
        }
        if (m_values.contains(name))
        {
            error = tr("The secrets file \"%1\" gives \"%2\" twice (lines %3 and %4).")
                        .arg(shown, name)
                        .arg(m_lines.value(name))
                        .arg(i + 1);
            return false;
        }
        m_values.insert(name, QString::fromUtf8(line.mid(equals + 1)));
        m_lines.insert(name, i + 1);
    }
    qDebug().noquote() << "CCliSecrets::readFile(" + path + ") end";
    return true;
}

bool CCliSecrets::fill(CDocument& document, QString& error)
{
    qDebug() << "CCliSecrets::fill() begin";
    m_lMissing.clear();
    m_lAdjusted.clear();
    // A name in the file that is no secret of this installer is a mistake the
    // administrator wants to hear about, not a value silently dropped.
    for (auto it = m_lines.constBegin(); it != m_lines.constEnd(); ++it)
    {
        bool secret = false;
        for (const CXmlObject* field : document.fieldsOf(it.key()))
            secret = secret || CSecretProperty::isSecret(field);
        if (!secret)
        {
            error = tr("Line %1 of the secrets file \"%2\" names \"%3\", which is no secret "
                       "property of the installer.")
                        .arg(it.value())
                        .arg(m_sFile, it.key());
            return false;
        }
    }
    // Every secret the file or the environment gives is set, as --set would set
    // any other property: one the customization left out, and one it holds or an
    // installer alone has no value for.
    QStringList names;
    const QMultiMap<QString, CXmlObject*> properties = document.collectProperties(false);
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
    {
        if (CSecretProperty::isSecret(it.value()) && !names.contains(it.key()))
            names << it.key();
    }
    for (const QString& name : qAsConst(names))
    {
        const QString variable = variableName(name);
        QString value;
        QString from;
        if (m_values.contains(name))
        {
            value = m_values.value(name);
            from = tr("the secrets file");
        }
        else
        {
            value = qEnvironmentVariable(variable.toLocal8Bit().constData());
            from = variable;
        }
        if (value.isEmpty())
            continue;
        // Only the names are logged and reported, never the value.
        qDebug().noquote() << "CCliSecrets::fill(): " + name + " from " + from;
        // The field takes it as it would take it typed: an input mask's letter case
        // is applied, what the field refuses stops the command.
        QString reason;
        switch (document.offerProperty(name, value, &reason))
        {
        case CXmlObject::ValueRefused:
            error = tr("The secret \"%1\" from %2 does not fit its field: it %3.")
                        .arg(name, from, reason);
            return false;
        case CXmlObject::ValueAdjusted:
            m_lAdjusted << tr("The secret \"%1\" from %2 %3.").arg(name, from, reason);
            break;
        case CXmlObject::ValueTaken:
            break;
        }
    }
    for (const CXmlObject* field : document.missingSecrets())
    {
        if (!m_lMissing.contains(field->property()))
            m_lMissing << field->property();
    }
    qDebug() << "CCliSecrets::fill() end";
    return true;
}
