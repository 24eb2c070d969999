#pragma once

#include "ReviewCollector.h"
#include "ReviewReport.h"

#include <QDialog>

class CDocument;
class CDigestWorker;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Shows what the open customization changes: every property that differs from its
// default, page by page, and the property texts publishing writes. A row takes the
// window to its page and field. Before a publish it asks to continue, and can be
// told not to show itself there again.
class CReviewDialog : public QDialog
{
    Q_OBJECT

public:
    // exportFolder: where the reports are offered to be written.
    CReviewDialog(QWidget* parent, const CDocument& document, const QString& exportFolder,
                  bool beforePublish);
    ~CReviewDialog() override;

    const CReviewReport& report() const { return m_report; }
    QTreeWidget* table() const { return m_pTable; }

    // Whether publishing shows the review first (the administrator's setting).
    static bool shownBeforePublish();
    static void setShownBeforePublish(bool shown);
    // The review as the first step of a publish: true to go on.
    static bool reviewBeforePublish(QWidget* parent, const CDocument& document,
                                    const QString& exportFolder);

public slots:
    // Asks for a file and writes the report there.
    void exportHtml();
    void exportText();

private slots:
    void showRow(QTreeWidgetItem* item);
    // The installer's digest came from the worker (empty: it could not be read).
    void digestComputed(const QString& digest);

private:
    void exportReport(bool html);
    void showDigest();

    const CDocument& m_document;
    QString m_sExportFolder;
    CReviewReport m_report;
    QList<CReviewCollector::CRow> m_lRows;
    QTreeWidget* m_pTable = nullptr;
    QCheckBox* m_pDontShowAgain = nullptr;
    QLabel* m_pDigest = nullptr;
    // Until the digest is there a report would lack it.
    QList<QPushButton*> m_lExports;
    CDigestWorker* m_pDigestWorker = nullptr;
};
