#include "SecretCover.h"

#include <QAction>
#include <QEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>
#include <QToolButton>

namespace
{
const int kMaxLines = 200;
const int kMaxLineBullets = 120;
} // namespace

CSecretCover::CSecretCover(QPlainTextEdit* field, QAction* toggle)
    : QWidget(field), m_pField(field), m_pViewport(field->viewport()),
      m_pButton(new QToolButton(field))
{
    setObjectName(QStringLiteral("secretCover"));
    // Clicks and the wheel reach the field below: it keeps the focus and the cursor.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    m_pButton->setDefaultAction(toggle);
    m_pButton->setAutoRaise(true);
    m_pButton->setFocusPolicy(Qt::NoFocus);
    m_pButton->setCursor(Qt::ArrowCursor);
    connect(toggle, &QAction::toggled, this, [this](bool shown) { setVisible(!shown); });
    connect(field, &QPlainTextEdit::textChanged, this, &CSecretCover::textChanged);
    m_pViewport->installEventFilter(this);
    textChanged();
    follow();
    setVisible(!toggle->isChecked());
}

bool CSecretCover::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pViewport &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        follow();
    return QWidget::eventFilter(watched, event);
}

void CSecretCover::follow()
{
    if (!m_pButton)
        return;
    const QRect area = m_pViewport->geometry();
    setGeometry(area);
    const QSize button = m_pButton->sizeHint();
    m_pButton->setGeometry(area.right() - button.width(), area.top(), button.width(),
                           button.height());
    raise();
    m_pButton->raise();
}

void CSecretCover::textChanged()
{
    const QString text = m_pField->toPlainText();
    QString bullets;
    int lines = 0;
    int column = 0;
    for (const QChar c : text)
    {
        if (c == QLatin1Char('\n'))
        {
            if (++lines >= kMaxLines)
            {
                bullets += QChar(0x2026);
                break;
            }
            bullets += c;
            column = 0;
        }
        else if (column < kMaxLineBullets && !c.isLowSurrogate())
        {
            bullets += QChar(0x2022);
            ++column;
        }
    }
    if (bullets != m_sBullets)
    {
        m_sBullets = bullets;
        update();
    }
}

void CSecretCover::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_pField->palette().brush(QPalette::Base));
    painter.setFont(m_pField->font());
    painter.setPen(m_pField->palette().color(QPalette::Text));
    const int margin = int(m_pField->document()->documentMargin());
    painter.drawText(rect().adjusted(margin, margin, -margin, -margin),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, m_sBullets);
}
