#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class CUndoHistory;
class CXmlObject;
class QMenu;
class QWidget;

// "Reset to Default" for a field and for a page: each field takes its default (or,
// without one, what a fresh load of the definition gave it) through its normal value
// path, so its actions and the window's marks follow, and the reset is one step of
// the undo history. Fields without a value, and disabled or read-only ones, are
// left alone. The fields' context menus offer it.
class CFieldReset : public QObject
{
    Q_OBJECT

public:
    CFieldReset(CUndoHistory& history, QObject* parent);

    // A definition was just loaded into the tree under root (before any saved
    // values): remembers what the fields hold and extends the context menus of the
    // fields shown in holder; its own context menu resets the shown page.
    void definitionLoaded(CXmlObject& root, QWidget* holder);
    // The document is gone.
    void forget();

    // The fields that reset works on: those holding a value of their own (a radio
    // button's is its group's) that the administrator may change now.
    static bool isResettable(const CXmlObject* field);
    // What a reset sets; false when nothing is known for the field.
    bool resetValue(const CXmlObject* field, QString& value) const;
    // Resets field; false when it is not resettable or holds its reset value already.
    bool resetField(CXmlObject* field);
    // Resets every resettable field of page; how many changed.
    int resetPage(CXmlObject* page);
    // Whether page has a field that reset works on.
    static bool pageHasFields(const CXmlObject* page);
    // Whether a reset of page would change anything.
    bool pageDiffers(const CXmlObject* page) const;
    // The context menu of a field or page widget, with the reset entries (the
    // caller owns it); null for widgets of no page.
    QMenu* createContextMenu(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The field a widget stands for (a radio button: its group), or null.
    static CXmlObject* fieldOf(QWidget* widget);
    // The page a widget is on, or null.
    CXmlObject* pageOf(QWidget* widget) const;
    bool differs(const CXmlObject* field) const;

    CUndoHistory& m_history;
    QWidget* m_pHolder = nullptr;
    QHash<const CXmlObject*, QString> m_freshValues;
};
