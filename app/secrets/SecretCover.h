#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QAction;
class QPlainTextEdit;
class QToolButton;

// Covers the text of a secret multi-line field with bullets, as a password line
// edit shows its text, and puts the field's show toggle in its top right corner.
// The field keeps its value and takes typing and pasting while covered; the cover
// only changes what is seen.
class CSecretCover : public QWidget
{
    Q_OBJECT

public:
    // toggle: checked while the text is shown; the cover goes away then.
    CSecretCover(QPlainTextEdit* field, QAction* toggle);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Over the field's viewport, wherever the field puts it.
    void follow();
    void textChanged();

    QPlainTextEdit* m_pField;
    // Kept apart from the field: while the field is destroyed its viewport still
    // sends events, and the field is no text edit any more by then.
    QWidget* m_pViewport;
    QPointer<QToolButton> m_pButton;
    // One bullet per character, line by line, bounded: a text of megabytes would
    // take seconds to lay out at every paint.
    QString m_sBullets;
};
