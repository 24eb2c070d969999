#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

class QProgressBar;

// The mark of one row of the results dialog: busy while its check runs, then a
// pass or fail image; the outcome is also written into the row's details label.
class ResultWidget : public QWidget
{
    Q_OBJECT

public:
    ResultWidget(QLabel* details, QWidget* parent = nullptr);
    ~ResultWidget() override;

    bool isBusy() const { return m_pBusy != nullptr; }
    QLabel* iconLabel() const { return m_pIcon; }
    QLabel* detailsLabel() const { return m_pDetails; }

public slots:
    void onSuccess();
    void onFailure(const QString& reason);
    // Shown under the outcome, which follows.
    void onNotice(const QString& notice);

private:
    void showOutcome(const QString& image, const QString& text);

    QProgressBar* m_pBusy;
    QLabel* m_pIcon;
    QPointer<QLabel> m_pDetails;
    QString m_sNotice;
};
