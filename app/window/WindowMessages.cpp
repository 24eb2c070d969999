#include "WindowMessages.h"

#include "shared/XmlWidgets/OverrideCursor.h"

#include "app/document/ShownText.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>

void CWindowMessages::warn(QWidget* parent, const QString& caption, const QString& text)
{
    const COverrideCursor arrow(Qt::ArrowCursor);
    // Messages are plain text, but some name a web address (the out-of-date
    // message): those are shown as rich text with the address as a working link.
    // Only a web address shown as itself becomes a link: a message may quote a
    // definition's text, which must not disguise an address or open a file.
    static const QRegularExpression link(
        QStringLiteral("<a href=\"(https?://[^\"<>\\s]*)\">\\1</a>"));
    if (!text.contains(link))
    {
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return;
    }
    QString html;
    int end = 0;
    QRegularExpressionMatchIterator it = link.globalMatch(text);
    while (it.hasNext())
    {
        const QRegularExpressionMatch match = it.next();
        html += text.mid(end, match.capturedStart() - end).toHtmlEscaped();
        html += QStringLiteral("<a href=\"%1\">%1</a>").arg(match.captured(1).toHtmlEscaped());
        end = match.capturedEnd();
    }
    html += text.mid(end).toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    QMessageBox box(QMessageBox::Warning, caption, html, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::RichText);
    box.setTextInteractionFlags(Qt::TextBrowserInteraction);
    if (QLabel* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        label->setOpenExternalLinks(true);
    box.exec();
}

void CWindowMessages::inform(QWidget* parent, const QString& caption, const QString& text)
{
    const COverrideCursor arrow(Qt::ArrowCursor);
    QMessageBox::information(parent, caption, text, QMessageBox::Ok);
}

void CWindowMessages::informPublished(QWidget* parent, const QString& caption, const QString& text,
                                      const QString& output)
{
    const COverrideCursor arrow(Qt::ArrowCursor);
    if (output.isEmpty())
    {
        QMessageBox::information(parent, caption, text, QMessageBox::Ok);
        return;
    }
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(CShownText::escaped(QDir::toNativeSeparators(output)));
    // A file name can look like markup: the path is shown as plain text.
    if (QLabel* const path = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        path->setTextFormat(Qt::PlainText);
#ifdef Q_OS_MACOS
    QPushButton* const show = box.addButton(tr("Show in Finder"), QMessageBox::ActionRole);
#else
    QPushButton* const show = box.addButton(tr("Show in File Manager"), QMessageBox::ActionRole);
#endif
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    if (box.clickedButton() == show && !showInFileManager(output))
        warn(parent, caption,
             tr("The file manager could not be asked to show %1.")
                 .arg(CShownText::escaped(QDir::toNativeSeparators(output))));
}

bool CWindowMessages::showInFileManager(const QString& path)
{
    const QFileInfo file(path);
#ifdef Q_OS_MACOS
    if (QProcess::startDetached(QStringLiteral("/usr/bin/open"),
                                {QStringLiteral("-R"), file.absoluteFilePath()}))
        return true;
#endif
    // The folder holding it: a package may itself be a folder (a bundle), which the
    // file manager would open instead of showing.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file.absolutePath()));
}
