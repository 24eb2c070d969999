#pragma once

#include "shared/XmlWidgets/OverrideCursor.h"

#include <QObject>
#include <QString>
#include <limits>
#include <optional>

class CAdminPage;
class CPublisher;
class QProgressDialog;
class QTimer;

// Publishing as the window does it: the document's one publish sequence (checks,
// secrets, output, worker, the swap into place) with the window's dialogs around
// it: the review, the save dialog that chooses the output, the progress dialog
// with its Cancel, and the message that tells the outcome.
class CPublishFlow : public QObject
{
    Q_OBJECT

public:
    explicit CPublishFlow(CAdminPage& window);
    ~CPublishFlow() override;

    // The whole flow, from the review to the start of the copy; the outcome comes
    // through the publisher's finished signal.
    void publish();
    bool isRunning() const;
    QProgressDialog* progressDialog() const { return m_pProgress; }
    CPublisher& publisher() const { return *m_pPublisher; }

public slots:
    // A tick of the progress timer: the bar moves while the tools tell nothing.
    void onProgress();
    // The progress dialog's Cancel.
    void cancel();

private:
    // The output the administrator chooses for the source's kind; empty: none.
    QString chooseOutput(bool script, const QString& inputSuffix);
    void progress(qint64 current, qint64 total);
    void finished(bool published, const QString& message, const QString& written);
    void endProgress();
    // Publishing waits across several events, so its cursor is held by the flow.
    void setWaitCursor(bool wait);

    CAdminPage& m_window;
    CPublisher* m_pPublisher = nullptr;
    QProgressDialog* m_pProgress = nullptr;
    QTimer* m_pProgressTimer = nullptr;
    // The dialog counts in int; very large installers are counted in coarser steps.
    qint64 m_iProgressScale = 1;
    bool m_bSettingValue = false;
    std::optional<COverrideCursor> m_waitCursor;
};
