#pragma once

#include <QDialog>
#include <QList>

class CXmlObject;
class QLabel;

// Asks for the secret values a customization file was saved without, so that the
// published installer carries them. The values go into the page fields by the
// fields' own rules: a value a field refuses keeps the dialog open with the reason.
class CSecretPromptDialog : public QDialog
{
    Q_OBJECT

public:
    CSecretPromptDialog(const QList<CXmlObject*>& secrets, const QString& caption,
                        QWidget* parent = nullptr);

    // Asks for secrets (nothing to ask: true at once); false when the administrator
    // cancels, and then no field changes.
    static bool askFor(const QList<CXmlObject*>& secrets, const QString& caption, QWidget* parent);

    // Offers the entered values to the fields; when one refuses, every field keeps
    // what it held and the reasons are shown. True when all were taken.
    bool apply();

    void accept() override;

private:
    QString enteredText(int index) const;

    QList<CXmlObject*> m_lSecrets;
    // A line edit for a one-line secret, a plain text edit for a multi-line one.
    QList<QWidget*> m_lFields;
    QLabel* m_pProblem = nullptr;
};
