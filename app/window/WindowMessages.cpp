#include "WindowMessages.h"

#include "shared/XmlWidgets/OverrideCursor.h"

#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>

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
