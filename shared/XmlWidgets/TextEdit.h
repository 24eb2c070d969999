#pragma once

#include "XmlWidget.h"

#include <QPlainTextEdit>

class QMenu;
#include <vector>

// A multi-line plain-text field ("textedit"); its value is its text.
class CTextEdit : public QPlainTextEdit, public CXmlWidget
{
    Q_OBJECT

public:
    CTextEdit(CXmlObject* parentObject, QWidget* parentWidget);
    ~CTextEdit() override;

    // Common attributes; the initial text from the element's Base64 text or else
    // "title" (both translated); "readonly" ("t"/"f").
    int parse(TiXmlElement* element, QString& error) override;
    // "clear".
    bool performAction(const QString& slot, const CActionItem* action) override;
    void setValue(const QString& value) override;
    QString getValue() const override;
    // Any text: what the document changes (line ends become line feeds) stands.
    ValueFit offerValue(const QString& value, QString* reason = nullptr) override;
    QWidget* widget() const override;
    // While protected, nothing of the text leaves the field: copy, cut, dragging
    // and the X11 selection get no text, as a password field gives none.
    void setCopyProtected(bool protect) { m_bCopyProtected = protect; }
    bool isCopyProtected() const { return m_bCopyProtected; }
    // The field's standard context menu, for those that add to it: a folded text is
    // unfolded first so that the menu offers Paste and Cut, and while protected Copy
    // and Cut are off.
    QMenu* createContextMenu(const QPoint& position);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    // Replaces the text. Text with a long run that has nowhere to break is wrapped
    // anywhere: breaking it only at word boundaries takes time that grows with the
    // square of the run's length. Very long paragraphs are shown folded.
    void showText(const QString& text);
    // Qt lays out a paragraph whole, so a paragraph of megabytes freezes the window
    // for seconds. Such a paragraph is shown split into blocks (only the visible ones
    // are laid out) while the value is kept whole; the breaks exist only on screen.
    // A folded text is read-only: the first edit unfolds it, as Qt could not tell
    // an added break from a typed one through editing and undo.
    bool isFolded() const { return !m_vBreaks.empty(); }
    void unfold();
    // The position in the value of a position in the folded document.
    int valuePosition(int shownPosition) const;
    void applyReadOnly();
    void protectMenu(QMenu* menu) const;

    QTextOption::WrapMode m_defaultWrapMode;
    // As the definition or an action asks; a folded text is read-only regardless.
    bool m_bReadOnly = false;
    // The whole value while folded, and the document positions of the added breaks.
    QString m_sFoldedValue;
    std::vector<int> m_vBreaks;
    bool m_bReplacing = false;
    bool m_bCopyProtected = false;
};
