#include "SecretFields.h"

#include "app/document/SecretProperty.h"

#include "shared/XmlWidgets/XmlObject.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
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

void showText(QLineEdit* field, QAction* toggle, bool shown)
{
    field->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    toggle->setIcon(eyeIcon(!shown));
    toggle->setToolTip(shown ? QCoreApplication::translate("CSecretFields", "Hide the value")
                             : QCoreApplication::translate("CSecretFields", "Show the value"));
}
} // namespace

void CSecretFields::protect(QLineEdit* field)
{
    if (!field || field->findChild<QAction*>(QLatin1String(ToggleName)))
        return;
    QAction* const toggle = new QAction(field);
    toggle->setObjectName(QLatin1String(ToggleName));
    toggle->setCheckable(true);
    field->addAction(toggle, QLineEdit::TrailingPosition);
    QObject::connect(toggle, &QAction::toggled, field,
                     [field, toggle](bool shown) { showText(field, toggle, shown); });
    showText(field, toggle, false);
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
            protect(dynamic_cast<QLineEdit*>(const_cast<CXmlObject*>(object)));
        for (CXmlObject* child : object->childObjects())
            pending.push(child);
    }
}
