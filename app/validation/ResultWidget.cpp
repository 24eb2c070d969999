#include "ResultWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>

ResultWidget::ResultWidget(QLabel* details, QWidget* parent)
    : QWidget(parent), m_pBusy(new QProgressBar(this)), m_pIcon(new QLabel(this)),
      m_pDetails(details)
{
    setMinimumHeight(36);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_pBusy->setRange(0, 0);
    m_pBusy->setTextVisible(false);
    m_pIcon->setAlignment(Qt::AlignCenter);
    m_pIcon->hide();
    layout->addWidget(m_pBusy);
    layout->addWidget(m_pIcon);
}

ResultWidget::~ResultWidget() = default;

void ResultWidget::onSuccess()
{
    showOutcome(QStringLiteral(":checkmark24"), tr("Succeeded"));
}

void ResultWidget::onFailure(const QString& reason)
{
    // The details label shows rich text; a reason is plain text.
    showOutcome(QStringLiteral(":xmark24"), tr("Failed. Details: ") + reason.toHtmlEscaped());
}

void ResultWidget::onNotice(const QString& notice)
{
    m_sNotice = notice;
}

void ResultWidget::showOutcome(const QString& image, const QString& text)
{
    if (m_pBusy)
    {
        layout()->removeWidget(m_pBusy);
        delete m_pBusy;
        m_pBusy = nullptr;
    }
    m_pIcon->setPixmap(QPixmap(image));
    m_pIcon->show();
    QString shown = text;
    if (!m_sNotice.isEmpty())
        shown += QStringLiteral("<br>") + m_sNotice.toHtmlEscaped();
    if (m_pDetails)
        m_pDetails->setText(m_pDetails->text() + shown);
    // The size hint alone ignores how tall the word-wrapped reasons become, and
    // a reason knows its height only once the layout has given it its width: so
    // look again when the layout has run, or the row reporting last stays short.
    QWidget* dialog = window();
    dialog->adjustSize();
    QPointer<QWidget> guard(dialog);
    QTimer::singleShot(0, dialog,
                       [guard]
                       {
                           if (guard && guard->height() < guard->sizeHint().height())
                               guard->resize(guard->width(), guard->sizeHint().height());
                       });
}
