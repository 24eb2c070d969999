#include "ReviewReport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace
{
QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

// A bundle with more files than this is not a real installer.
const int kMaxBundleFiles = 200000;

bool addFile(QCryptographicHash& hash, const QString& path, const std::atomic_bool* canceled)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (;;)
    {
        if (canceled && canceled->load())
            return false;
        const qint64 read = file.read(block.data(), block.size());
        if (read < 0)
            return false;
        if (read == 0)
            return true;
        hash.addData(block.constData(), int(read));
    }
}
} // namespace

QString CReviewReport::customizationPath() const
{
    return m_sCustomizationPath.isEmpty()
               ? QCoreApplication::translate("CReviewReport", "none (not saved yet)")
               : m_sCustomizationPath;
}

QString CReviewReport::toHtml() const
{
    QString html;
    html += QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>") +
            escaped(QCoreApplication::translate("CReviewReport", "Customization review")) +
            QStringLiteral(": ") + escaped(m_sProduct) +
            QStringLiteral("</title>\n<style>\n"
                           "body { font-family: sans-serif; margin: 2em; }\n"
                           "table { border-collapse: collapse; margin-bottom: 1.5em; }\n"
                           "th, td { border: 1px solid #b0b0b0; padding: 4px 8px; text-align: "
                           "left; vertical-align: top; }\n"
                           "th { background: #e8ecf0; }\n"
                           "td { white-space: pre-wrap; }\n"
                           "pre { background: #f4f4f4; padding: 8px; }\n"
                           "</style>\n</head>\n<body>\n<h1>") +
            escaped(QCoreApplication::translate("CReviewReport", "Customization review")) +
            QStringLiteral("</h1>\n");

    html += QStringLiteral("<table class=\"installer\">\n");
    const QList<QPair<QString, QString>> facts{
        {QCoreApplication::translate("CReviewReport", "Product"), m_sProduct},
        {QCoreApplication::translate("CReviewReport", "Version"), m_sVersion},
        {QCoreApplication::translate("CReviewReport", "Source installer"), m_sSourcePath},
        {QCoreApplication::translate("CReviewReport", "SHA-256"), m_sSourceDigest},
        {QCoreApplication::translate("CReviewReport", "Customization file"), customizationPath()},
        {QCoreApplication::translate("CReviewReport", "Customization SHA-256"),
         m_sCustomizationDigest},
        {QCoreApplication::translate("CReviewReport", "Tessary version"), m_sToolVersion},
        {QCoreApplication::translate("CReviewReport", "Date"), m_sDate}};
    for (const auto& fact : facts)
        html += QStringLiteral("<tr><th>") + escaped(fact.first) + QStringLiteral("</th><td>") +
                escaped(fact.second) + QStringLiteral("</td></tr>\n");
    html += QStringLiteral("</table>\n<h2>") +
            escaped(QCoreApplication::translate("CReviewReport", "Changed settings")) +
            QStringLiteral("</h2>\n");
    if (m_lEntries.isEmpty())
    {
        html += QStringLiteral("<p>") +
                escaped(QCoreApplication::translate("CReviewReport",
                                                    "Every setting has its default value.")) +
                QStringLiteral("</p>\n");
    }
    else
    {
        html += QStringLiteral("<table class=\"changes\">\n<tr><th>") +
                escaped(QCoreApplication::translate("CReviewReport", "Page")) +
                QStringLiteral("</th><th>") +
                escaped(QCoreApplication::translate("CReviewReport", "Setting")) +
                QStringLiteral("</th><th>") +
                escaped(QCoreApplication::translate("CReviewReport", "Property")) +
                QStringLiteral("</th><th>") +
                escaped(QCoreApplication::translate("CReviewReport", "Default")) +
                QStringLiteral("</th><th>") +
                escaped(QCoreApplication::translate("CReviewReport", "Value")) +
                QStringLiteral("</th></tr>\n");
        for (const CEntry& entry : m_lEntries)
            html += QStringLiteral("<tr><td>") + escaped(entry.m_sPage) +
                    QStringLiteral("</td><td>") + escaped(entry.m_sLabel) +
                    QStringLiteral("</td><td>") + escaped(entry.m_sProperty) +
                    QStringLiteral("</td><td>") + escaped(entry.m_sDefault) +
                    QStringLiteral("</td><td>") + escaped(entry.m_sValue) +
                    QStringLiteral("</td></tr>\n");
        html += QStringLiteral("</table>\n");
    }
    html += QStringLiteral("<h2>") +
            escaped(QCoreApplication::translate("CReviewReport", "Shell properties")) +
            QStringLiteral("</h2>\n<pre class=\"shell\">") + escaped(m_sShellText) +
            QStringLiteral("</pre>\n<h2>") +
            escaped(QCoreApplication::translate("CReviewReport", "JavaScript properties")) +
            QStringLiteral("</h2>\n<pre class=\"javascript\">") + escaped(m_sJavaScriptText) +
            QStringLiteral("</pre>\n");
    if (!m_lCheckResults.isEmpty())
    {
        html += QStringLiteral("<h2>") +
                escaped(QCoreApplication::translate("CReviewReport", "Results of the last check")) +
                QStringLiteral("</h2>\n<ul class=\"checks\">\n");
        for (const QString& result : m_lCheckResults)
            html += QStringLiteral("<li>") + escaped(result) + QStringLiteral("</li>\n");
        html += QStringLiteral("</ul>\n");
    }
    html += QStringLiteral("</body>\n</html>\n");
    return html;
}

QString CReviewReport::toText() const
{
    QString text =
        QCoreApplication::translate("CReviewReport", "Customization review") + QLatin1Char('\n');
    text += QCoreApplication::translate("CReviewReport", "Product") + QStringLiteral(": ") +
            m_sProduct + QLatin1Char('\n');
    text += QCoreApplication::translate("CReviewReport", "Version") + QStringLiteral(": ") +
            m_sVersion + QLatin1Char('\n');
    text += QCoreApplication::translate("CReviewReport", "Source installer") +
            QStringLiteral(": ") + m_sSourcePath + QLatin1Char('\n');
    text += QCoreApplication::translate("CReviewReport", "SHA-256") + QStringLiteral(": ") +
            m_sSourceDigest + QLatin1Char('\n');
    text += QCoreApplication::translate("CReviewReport", "Customization file") +
            QStringLiteral(": ") + customizationPath() + QLatin1Char('\n');
    if (!m_sCustomizationPath.isEmpty())
        text += QCoreApplication::translate("CReviewReport", "Customization SHA-256") +
                QStringLiteral(": ") + m_sCustomizationDigest + QLatin1Char('\n');
    text += QCoreApplication::translate("CReviewReport", "Tessary version") + QStringLiteral(": ") +
            m_sToolVersion + QLatin1Char('\n');
    text += QCoreApplication::translate("CReviewReport", "Date") + QStringLiteral(": ") + m_sDate +
            QStringLiteral("\n\n");
    text += QCoreApplication::translate("CReviewReport", "Changed settings") + QLatin1Char('\n');
    if (m_lEntries.isEmpty())
        text +=
            QCoreApplication::translate("CReviewReport", "Every setting has its default value.") +
            QLatin1Char('\n');
    QString page;
    for (int i = 0; i < m_lEntries.size(); ++i)
    {
        const CEntry& entry = m_lEntries.at(i);
        if (i == 0 || entry.m_sPage != page)
        {
            page = entry.m_sPage;
            text += QStringLiteral("\n[") + page + QStringLiteral("]\n");
        }
        text += QStringLiteral("  ") + entry.m_sLabel + QStringLiteral(" (") + entry.m_sProperty +
                QStringLiteral(")\n    ") +
                QCoreApplication::translate("CReviewReport", "Default") + QStringLiteral(": ") +
                entry.m_sDefault + QStringLiteral("\n    ") +
                QCoreApplication::translate("CReviewReport", "Value") + QStringLiteral(": ") +
                entry.m_sValue + QLatin1Char('\n');
    }
    text += QLatin1Char('\n') + QCoreApplication::translate("CReviewReport", "Shell properties") +
            QStringLiteral(":\n") + m_sShellText;
    text += QLatin1Char('\n') +
            QCoreApplication::translate("CReviewReport", "JavaScript properties") +
            QStringLiteral(":\n") + m_sJavaScriptText;
    if (!m_lCheckResults.isEmpty())
        text += QLatin1Char('\n') +
                QCoreApplication::translate("CReviewReport", "Results of the last check") +
                QStringLiteral(":\n") + m_lCheckResults.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return text;
}

bool CReviewReport::write(const QString& path, bool html, QString* error) const
{
    const QByteArray bytes = (html ? toHtml() : toText()).toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
    {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

QString CReviewReport::sha256Of(const QString& path, const std::atomic_bool* canceled)
{
    const QFileInfo info(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (info.isFile())
    {
        if (!addFile(hash, path, canceled))
            return QString();
        return QString::fromLatin1(hash.result().toHex());
    }
    if (!info.isDir())
        return QString();
    QStringList files;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir root(path);
    while (it.hasNext())
    {
        it.next();
        if (files.size() >= kMaxBundleFiles || (canceled && canceled->load()))
            return QString();
        if (!it.fileInfo().isSymLink())
            files.append(root.relativeFilePath(it.filePath()));
    }
    files.sort();
    for (const QString& file : qAsConst(files))
    {
        hash.addData(file.toUtf8());
        hash.addData(QByteArray(1, '\0'));
        if (!addFile(hash, root.filePath(file), canceled))
            return QString();
    }
    return QString::fromLatin1(hash.result().toHex());
}
