#pragma once

#include <QLineEdit>
#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>

class CAdminPage;
class CIndexLink;
class CPage;
class QLabel;
class QStandardItem;

// The search field above the page index: the index keeps only the pages whose
// title, captions, help texts, property names or (not secret) values hold the
// search text, and the shown page marks the widgets that match; with no match the
// window says so in the page's place. Ctrl+F comes here; Escape clears it, and the
// page shown before the search comes back.
class CPageSearch : public QLineEdit
{
    Q_OBJECT

public:
    // Puts itself above window's page index.
    explicit CPageSearch(CAdminPage* window);

    // Whether page holds text (case-insensitive) in its title, a caption, a help
    // text, a property name or a value that is no secret.
    static bool pageMatches(const CPage* page, const QString& text);
    // The widgets of page that show or stand for text.
    static QList<QWidget*> matchingWidgets(const CPage* page, const QString& text);

public slots:
    void applyFilter();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Up and Down in a filtered index move among the pages it still shows.
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void highlightShownPage();

private:
    // Hides the rows below parent that neither match nor hold a match; true when
    // one of them stays.
    bool filterRows(QStandardItem* parent, const QString& text);
    void clearHighlights();
    // "No settings match" in the page holder's place, or the page holder back.
    void showNoMatch(bool shown);
    // The links of the shown rows that have a page, in the order they are shown.
    QList<CIndexLink*> shownPages() const;

    CAdminPage* m_pWindow;
    QList<QPointer<QWidget>> m_lHighlighted;
    QLabel* m_pNoMatch = nullptr;
    bool m_bSearching = false;
    QPersistentModelIndex m_before;
};
