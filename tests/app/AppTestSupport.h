#pragma once

// Helpers for driving the main window: a fixture that sets up the preference
// library and the tool path like the program does, paths of the sample
// installers, a waiter and an answerer for modal dialogs.

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

class CAdminPage;
class QAction;

namespace AppTest
{

// A sample installer built by the "samples" target.
QString sample(const QString& name);
// A file in the test's private directory.
QString testPath(const QString& name);
// Writes text to a file in the test's private directory and returns its path.
QString writeFile(const QString& name, const QByteArray& text);

// Processes events until condition holds or timeoutMs passes.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 30000);

// The main window's menu action with this text, or null.
QAction* findAction(CAdminPage* window, const QString& text);

// Answers every message box that becomes modal with a chosen button and
// records its text; other modal dialogs are rejected and their titles recorded.
class CModalAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit CModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);
    ~CModalAnswerer() override;

    void setAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }
    QStringList m_lTexts;

private slots:
    void poll();

private:
    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
};

// Initialises the preference library and puts the tools first on PATH.
class AppFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace AppTest
