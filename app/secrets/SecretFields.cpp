#include "SecretFields.h"

#include "SecretCover.h"
#include "app/document/SecretProperty.h"

#include "shared/XmlWidgets/TextEdit.h"
#include "shared/XmlWidgets/XmlObject.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QStack>

namespace
{
const char* const ToggleName = "showSecret";

// An open eye; crossed out while the text is hidden.
QIcon eyeIcon(bool crossed)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(70, 70, 70), 1.4));
    QPainterPath outline;
    outline.moveTo(1.5, 8);
    outline.quadTo(8, 1, 14.5, 8);
    outline.quadTo(8, 15, 1.5, 8);
    painter.drawPath(outline);
    painter.setBrush(QColor(70, 70, 70));
    painter.drawEllipse(QPointF(8, 8), 2.2, 2.2);
    if (crossed)
        painter.drawLine(QPointF(2.5, 13.5), QPointF(13.5, 2.5));
    painter.end();
    return QIcon(pixmap);
}

void showToggle(QAction* toggle, bool shown)
{
    toggle->setIcon(eyeIcon(!shown));
    toggle->setToolTip(shown ? QCoreApplication::translate("CSecretFields", "Hide the value")
                             : QCoreApplication::translate("CSecretFields", "Show the value"));
}

void showText(QLineEdit* field, QAction* toggle, bool shown)
{
    // Masked, an input mask's blanks are bullets too: an empty token field would look
    // filled. Empty, it has nothing to hide.
    const bool nothingToHide = field->text().isEmpty() && !field->inputMask().isEmpty();
    field->setEchoMode(shown || nothingToHide ? QLineEdit::Normal : QLineEdit::Password);
    if (nothingToHide && !shown)
        field->setInputMethodHints(field->inputMethodHints() | Qt::ImhHiddenText |
                                   Qt::ImhSensitiveData | Qt::ImhNoPredictiveText |
                                   Qt::ImhNoAutoUppercase);
    showToggle(toggle, shown);
}

QAction* newToggle(QWidget* field)
{
    QAction* const toggle = new QAction(field);
    toggle->setObjectName(QLatin1String(ToggleName));
    toggle->setCheckable(true);
    // What a screen reader announces; the checked state says whether it is shown.
    toggle->setText(QCoreApplication::translate("CSecretFields", "Show the value"));
    return toggle;
}
} // namespace

void CSecretFields::protect(QLineEdit* field)
{
    if (!field || field->findChild<QAction*>(QLatin1String(ToggleName)))
        return;
    QAction* const toggle = newToggle(field);
    field->addAction(toggle, QLineEdit::TrailingPosition);
    QObject::connect(toggle, &QAction::toggled, field,
                     [field, toggle](bool shown) { showText(field, toggle, shown); });
    QObject::connect(field, &QLineEdit::textChanged, toggle,
                     [field, toggle] { showText(field, toggle, toggle->isChecked()); });
    showText(field, toggle, false);
}

void CSecretFields::protect(QPlainTextEdit* field)
{
    if (!field || field->findChild<QAction*>(QLatin1String(ToggleName)))
        return;
    QAction* const toggle = newToggle(field);
    CTextEdit* const own = qobject_cast<CTextEdit*>(field);
    QObject::connect(toggle, &QAction::toggled, field,
                     [toggle, own](bool shown)
                     {
                         showToggle(toggle, shown);
                         if (own)
                             own->setCopyProtected(!shown);
                     });
    showToggle(toggle, false);
    if (own)
        own->setCopyProtected(true);
    new CSecretCover(field, toggle);
}

void CSecretFields::protect(const CXmlObject* tree)
{
    QStack<const CXmlObject*> pending;
    if (tree)
        pending.push(tree);
    while (!pending.isEmpty())
    {
        const CXmlObject* const object = pending.pop();
        if (CSecretProperty::isSecret(object))
        {
            CXmlObject* const field = const_cast<CXmlObject*>(object);
            if (QLineEdit* const line = dynamic_cast<QLineEdit*>(field))
                protect(line);
            else if (QPlainTextEdit* const text = dynamic_cast<QPlainTextEdit*>(field))
                protect(text);
        }
        for (CXmlObject* child : object->childObjects())
            pending.push(child);
    }
}
