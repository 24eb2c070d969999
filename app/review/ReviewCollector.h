#pragma once

#include "ReviewReport.h"
#include "app/document/PropertyText.h"

#include <QList>

class CDocument;
class CPage;
class CPageHolder;
class CPageIndex;
class CXmlObject;

// Gathers the review of the open document: the changed
// properties page by page in the order of the page index, with secret values
// replaced by "set" or "not set".
class CReviewCollector
{
public:
    // Where a review entry comes from.
    struct CRow
    {
        CPage* m_pPage;
        CXmlObject* m_pObject;
    };

    // Shown in the property texts instead of a secret value.
    static QString secretPlaceholder();

    // rows, when given, receives one row per entry of the report, in its order.
    static CReviewReport collect(const CDocument& document, QList<CRow>* rows = nullptr);
    // The pages the index links to, in its order, then any page it does not link.
    static QList<CPage*> pagesInIndexOrder(const CPageIndex* index, const CPageHolder* holder);
    // The installation properties on page, in page order.
    static QList<CXmlObject*> propertiesOn(const CPage* page);
    // What publishing writes, secret values replaced by the placeholder.
    static CPropertyText::Properties shownProperties(const CDocument& document);
};
