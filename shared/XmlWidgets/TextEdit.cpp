#include "TextEdit.h"
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QSignalBlocker>
#include <QTextBlock>
#include <algorithm>
#include <tinyxml.h>

namespace
{
// Longer than any word; a line of the editor holds far fewer characters.
const int kLongRun = 1000;
// A block this long lays out in a few milliseconds.
const int kFoldLength = 4096;
// How far back from the fold a space is looked for, so words stay whole.
const int kFoldSlack = 256;

// The text to show, with a paragraph break added wherever a paragraph runs past
// kFoldLength; the positions of the added breaks go to breaks.
QString folded(const QString& text, std::vector<int>& breaks)
{
    breaks.clear();
    QString shown;
    int paragraphStart = 0;
    int from = 0;
    const int size = text.size();
    while (from < size)
    {
        const int newline = text.indexOf(QLatin1Char('\n'), from);
        const int paragraphEnd = newline < 0 ? size : newline;
        if (paragraphEnd - from <= kFoldLength)
        {
            if (!breaks.empty())
                shown.append(text.constData() + from, paragraphEnd - from + (newline < 0 ? 0 : 1));
            from = paragraphEnd + 1;
            continue;
        }
        if (breaks.empty())
        {
            shown.reserve(size + size / kFoldLength + 1);
            shown.append(text.constData(), from);
        }
        paragraphStart = from;
        while (paragraphEnd - paragraphStart > kFoldLength)
        {
            int cut = paragraphStart + kFoldLength;
            for (int i = cut; i > cut - kFoldSlack; --i)
            {
                if (text.at(i - 1).isSpace())
                {
                    cut = i;
                    break;
                }
            }
            // Never between the halves of a surrogate pair.
            if (text.at(cut - 1).isHighSurrogate())
                --cut;
            shown.append(text.constData() + paragraphStart, cut - paragraphStart);
            breaks.push_back(shown.size());
            shown += QLatin1Char('\n');
            paragraphStart = cut;
        }
        shown.append(text.constData() + paragraphStart,
                     paragraphEnd - paragraphStart + (newline < 0 ? 0 : 1));
        from = paragraphEnd + 1;
    }
    return breaks.empty() ? text : shown;
}

bool editsText(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll))
        return false;
    for (const QKeySequence::StandardKey key :
         {QKeySequence::Paste, QKeySequence::Cut, QKeySequence::Undo, QKeySequence::Redo,
          QKeySequence::Delete, QKeySequence::Backspace, QKeySequence::DeleteStartOfWord,
          QKeySequence::DeleteEndOfWord, QKeySequence::DeleteEndOfLine,
          QKeySequence::DeleteCompleteLine, QKeySequence::InsertParagraphSeparator,
          QKeySequence::InsertLineSeparator})
    {
        if (event->matches(key))
            return true;
    }
    switch (event->key())
    {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        break;
    }
    const QString text = event->text();
    return !text.isEmpty() && text.at(0).category() != QChar::Other_Control;
}
} // namespace

CTextEdit::CTextEdit(CXmlObject* parentObject, QWidget* parentWidget)
    : QPlainTextEdit(parentWidget), CXmlWidget(parentObject), m_defaultWrapMode(wordWrapMode())
{
    connect(this, &QPlainTextEdit::textChanged, this, [this] { changed(); });
    // Any change made around the folding (Qt's own clear(), a caller setting the
    // text directly) replaces the folded text: the document is the value again.
    // contentsChange comes before textChanged, so no one reads a stale value.
    connect(document(), &QTextDocument::contentsChange, this,
            [this]
            {
                if (!m_bReplacing && isFolded())
                {
                    m_vBreaks.clear();
                    m_sFoldedValue.clear();
                    applyReadOnly();
                }
            });
}

CTextEdit::~CTextEdit() = default;

int CTextEdit::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlWidget::parse(element, error);
    if (result != 0)
        return result;

    const QByteArray text = elementData(element);
    if (!text.isEmpty())
        showText(translate(text.constData()));
    else if (const char* title = element->Attribute("title"))
    {
        if (*title)
            showText(translate(title));
    }

    const QString readOnly = convertAttribute(element->Attribute("readonly"));
    if (readOnly.compare(QLatin1String("t"), Qt::CaseInsensitive) == 0)
        m_bReadOnly = true;
    else if (readOnly.compare(QLatin1String("f"), Qt::CaseInsensitive) == 0)
        m_bReadOnly = false;
    else if (!readOnly.isEmpty())
    {
        error = CXmlObject::translate("Incorrect value for \"readonly\" attribute in object "
                                      "\"%1\": %2")
                    .arg(m_sName, readOnly);
        return 1;
    }
    applyReadOnly();
    return 0;
}

bool CTextEdit::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("clear"))
    {
        clear();
        return true;
    }
    return CXmlWidget::performAction(slot, action);
}

void CTextEdit::setValue(const QString& value)
{
    showText(value);
}

void CTextEdit::showText(const QString& text)
{
    int run = 0;
    bool unbroken = false;
    for (const QChar c : text)
    {
        run = c.isSpace() ? 0 : run + 1;
        if (run > kLongRun)
        {
            unbroken = true;
            break;
        }
    }
    setWordWrapMode(unbroken ? QTextOption::WrapAnywhere : m_defaultWrapMode);
    // The folding is in place before the text: textChanged reads the value.
    const QString shown = folded(text, m_vBreaks);
    m_sFoldedValue = isFolded() ? text : QString();
    m_bReplacing = true;
    setPlainText(shown);
    m_bReplacing = false;
    applyReadOnly();
}

void CTextEdit::unfold()
{
    if (!isFolded())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QTextCursor shown = textCursor();
    const int anchor = valuePosition(shown.anchor());
    const int position = valuePosition(shown.position());
    const QString value = m_sFoldedValue;
    m_vBreaks.clear();
    m_sFoldedValue.clear();
    {
        // The value stays the same, so no one is told of a change.
        const QSignalBlocker blocker(this);
        m_bReplacing = true;
        setPlainText(value);
        m_bReplacing = false;
    }
    QTextCursor cursor = textCursor();
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    applyReadOnly();
    QApplication::restoreOverrideCursor();
}

int CTextEdit::valuePosition(int shownPosition) const
{
    const auto before = std::lower_bound(m_vBreaks.begin(), m_vBreaks.end(), shownPosition);
    return shownPosition - int(before - m_vBreaks.begin());
}

void CTextEdit::applyReadOnly()
{
    setReadOnly(m_bReadOnly || isFolded());
    // A folded text still shows its cursor and can be browsed with the keyboard.
    if (!m_bReadOnly && isFolded())
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void CTextEdit::keyPressEvent(QKeyEvent* event)
{
    // Cut would remove the text without putting it anywhere.
    if (m_bCopyProtected && (event == QKeySequence::Cut || event == QKeySequence::Copy))
    {
        event->accept();
        return;
    }
    if (isFolded() && !m_bReadOnly && editsText(event))
        unfold();
    QPlainTextEdit::keyPressEvent(event);
}

void CTextEdit::inputMethodEvent(QInputMethodEvent* event)
{
    if (isFolded() && !m_bReadOnly &&
        (!event->commitString().isEmpty() || !event->preeditString().isEmpty()))
        unfold();
    QPlainTextEdit::inputMethodEvent(event);
}

void CTextEdit::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* const menu = createContextMenu(event->pos());
    menu->exec(event->globalPos());
    delete menu;
}

QMenu* CTextEdit::createContextMenu(const QPoint& position)
{
    // The menu offers Paste and Cut only on an editable text.
    if (!m_bReadOnly)
        unfold();
    QMenu* const menu = createStandardContextMenu(position);
    protectMenu(menu);
    return menu;
}

void CTextEdit::protectMenu(QMenu* menu) const
{
    if (!m_bCopyProtected || !menu)
        return;
    for (QAction* const action : menu->actions())
    {
        if (action->objectName() == QLatin1String("edit-copy") ||
            action->objectName() == QLatin1String("edit-cut"))
            action->setEnabled(false);
    }
}

QMimeData* CTextEdit::createMimeDataFromSelection() const
{
    if (m_bCopyProtected)
        return new QMimeData;
    if (!isFolded())
        return QPlainTextEdit::createMimeDataFromSelection();
    // The copy holds the value, without the breaks that exist only on screen.
    const QTextCursor cursor = textCursor();
    const int start = valuePosition(cursor.selectionStart());
    const int end = valuePosition(cursor.selectionEnd());
    auto* data = new QMimeData;
    data->setText(m_sFoldedValue.mid(start, end - start));
    return data;
}

QString CTextEdit::getValue() const
{
    return isFolded() ? m_sFoldedValue : toPlainText();
}

CXmlObject::ValueFit CTextEdit::offerValue(const QString& value, QString* reason)
{
    setValue(value);
    if (getValue() == value)
        return ValueTaken;
    if (reason)
        *reason = CXmlObject::translate("was written as the field keeps text, with its line "
                                        "ends as line feeds");
    return ValueAdjusted;
}

QWidget* CTextEdit::widget() const
{
    return const_cast<CTextEdit*>(this);
}
