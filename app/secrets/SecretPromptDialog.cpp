#include "SecretPromptDialog.h"

#include "SecretFields.h"
#include "app/review/PropertyLabel.h"

#include "shared/XmlWidgets/XmlObject.h"

#include <QDebug>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

CSecretPromptDialog::CSecretPromptDialog(const QList<CXmlObject*>& secrets, const QString& caption,
                                         QWidget* parent)
    : QDialog(parent), m_lSecrets(secrets)
{
    setObjectName(QStringLiteral("SecretPromptDialog"));
    setWindowTitle(caption);
    QVBoxLayout* const layout = new QVBoxLayout(this);
    QLabel* const text = new QLabel(
        tr("This customization was saved without its secret values. The installer needs them: "
           "enter them to publish."),
        this);
    text->setWordWrap(true);
    layout->addWidget(text);
    QFormLayout* const form = new QFormLayout;
    for (const CXmlObject* secret : secrets)
    {
        QWidget* field = nullptr;
        CXmlObject* const object = const_cast<CXmlObject*>(secret);
        if (dynamic_cast<const QPlainTextEdit*>(object))
        {
            // A key or a certificate runs over lines: a one-line field would join them.
            QPlainTextEdit* const text = new QPlainTextEdit(this);
            text->setTabChangesFocus(true);
            text->setMinimumHeight(text->fontMetrics().lineSpacing() * 4);
            CSecretFields::protect(text);
            field = text;
        }
        else
        {
            QLineEdit* const line = new QLineEdit(this);
            if (const QLineEdit* const original = dynamic_cast<const QLineEdit*>(object))
                line->setInputMask(original->inputMask());
            CSecretFields::protect(line);
            field = line;
        }
        // Found by the property it is for.
        field->setObjectName(secret->property());
        const QString label = CPropertyLabel::of(secret) + QStringLiteral(" (") +
                              secret->property() + QStringLiteral("):");
        field->setAccessibleName(CPropertyLabel::of(secret));
        form->addRow(label, field);
        m_lFields.append(field);
    }
    layout->addLayout(form);
    m_pProblem = new QLabel(this);
    m_pProblem->setObjectName(QStringLiteral("problem"));
    m_pProblem->setTextFormat(Qt::PlainText);
    m_pProblem->setWordWrap(true);
    m_pProblem->hide();
    layout->addWidget(m_pProblem);
    QDialogButtonBox* const buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString CSecretPromptDialog::enteredText(int index) const
{
    QWidget* const field = m_lFields.at(index);
    if (const QPlainTextEdit* const text = qobject_cast<const QPlainTextEdit*>(field))
        return text->toPlainText();
    const QLineEdit* const line = qobject_cast<const QLineEdit*>(field);
    return line ? line->text() : QString();
}

bool CSecretPromptDialog::apply()
{
    QList<QString> before;
    QStringList problems;
    const int count = qMin(m_lSecrets.size(), m_lFields.size());
    for (int i = 0; i < count; ++i)
    {
        CXmlObject* const secret = m_lSecrets.at(i);
        before.append(secret->getValue());
        QString reason;
        if (secret->offerValue(enteredText(i), &reason) == CXmlObject::ValueRefused)
            // The value is secret: the message names the field and the rule only.
            problems << tr("%1: not taken (%2).")
                            .arg(CPropertyLabel::of(secret),
                                 reason.isEmpty() ? secret->valueRule().m_sText : reason);
    }
    if (problems.isEmpty())
        return true;
    for (int i = 0; i < before.size(); ++i)
        m_lSecrets.at(i)->setValue(before.at(i));
    m_pProblem->setText(problems.join(QLatin1Char('\n')));
    m_pProblem->show();
    return false;
}

void CSecretPromptDialog::accept()
{
    if (apply())
        QDialog::accept();
}

bool CSecretPromptDialog::askFor(const QList<CXmlObject*>& secrets, const QString& caption,
                                 QWidget* parent)
{
    if (secrets.isEmpty())
        return true;
    qDebug() << "CSecretPromptDialog::askFor(" << secrets.size() << ") begin";
    CSecretPromptDialog dialog(secrets, caption, parent);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    qDebug() << "CSecretPromptDialog::askFor(" << secrets.size() << ") end";
    return accepted;
}
