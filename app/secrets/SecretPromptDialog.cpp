#include "SecretPromptDialog.h"

#include "SecretFields.h"
#include "app/review/PropertyLabel.h"

#include "shared/XmlWidgets/XmlObject.h"

#include <QDebug>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
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
        QLineEdit* const field = new QLineEdit(this);
        // Found by the property it is for.
        field->setObjectName(secret->property());
        if (const QLineEdit* const original =
                dynamic_cast<const QLineEdit*>(const_cast<CXmlObject*>(secret)))
            field->setInputMask(original->inputMask());
        CSecretFields::protect(field);
        form->addRow(CPropertyLabel::of(secret) + QStringLiteral(" (") + secret->property() +
                         QStringLiteral("):"),
                     field);
        m_lFields.append(field);
    }
    layout->addLayout(form);
    QDialogButtonBox* const buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CSecretPromptDialog::apply() const
{
    for (int i = 0; i < m_lSecrets.size() && i < m_lFields.size(); ++i)
        m_lSecrets.at(i)->setValue(m_lFields.at(i)->text());
}

bool CSecretPromptDialog::askFor(const QList<CXmlObject*>& secrets, const QString& caption,
                                 QWidget* parent)
{
    if (secrets.isEmpty())
        return true;
    qDebug() << "CSecretPromptDialog::askFor(" << secrets.size() << ") begin";
    CSecretPromptDialog dialog(secrets, caption, parent);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (accepted)
        dialog.apply();
    qDebug() << "CSecretPromptDialog::askFor(" << secrets.size() << ") end";
    return accepted;
}
