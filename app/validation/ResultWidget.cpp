#include "ResultWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>

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
    if (m_pDetails)
        m_pDetails->setText(m_pDetails->text() + text);
    // The size hint alone ignores how tall the word-wrapped reasons become.
    window()->adjustSize();
}
