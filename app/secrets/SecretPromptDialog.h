#pragma once

#include <QDialog>
#include <QList>

class CXmlObject;
class QLineEdit;

// Asks for the secret values a customization file was saved without, so that the
// published installer carries them. The values go straight into the page fields.
class CSecretPromptDialog : public QDialog
{
    Q_OBJECT

public:
    CSecretPromptDialog(const QList<CXmlObject*>& secrets, const QString& caption,
                        QWidget* parent = nullptr);

    // Asks for secrets (nothing to ask: true at once); false when the administrator
    // cancels, and then no field changes.
    static bool askFor(const QList<CXmlObject*>& secrets, const QString& caption, QWidget* parent);

    // Puts the entered values into the fields.
    void apply() const;

private:
    QList<CXmlObject*> m_lSecrets;
    QList<QLineEdit*> m_lFields;
};
