#pragma once

// Helpers for driving the main window: a fixture that sets up the preference
// library and the tool path like the program does, paths of the sample
// installers, a waiter, and the review's part in answering modal dialogs.

#include "tests/support/ModalAnswerer.h"

#include <QMap>
#include <QString>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

class CAdminPage;
class QAction;
class QDialog;
class QMenu;
class QWidget;

namespace AppTest
{

// A sample installer built by the "samples" target.
QString sample(const QString& name);
// A file in the test's private directory.
QString testPath(const QString& name);
// Writes text to a file in the test's private directory and returns its path.
QString writeFile(const QString& name, const QByteArray& text);
// A file's bytes; empty when it cannot be read.
QByteArray bytesOf(const QString& path);
// A path quoted for the shell, whatever characters it holds.
QString shellQuoted(const QString& path);
// Runs a shell command line, expecting it to succeed; returns its output.
std::string runShell(const QString& command);
// What bash exports after sourcing file in an empty environment, less what bash
// sets by itself.
QMap<QString, QString> exportedBy(const QString& file);

// A script installer like the sample, with another version and its page definition
// changed by edit (applied to the definition's text); written to name.
QString scriptRelease(const QString& name, const QString& version,
                      const std::function<QByteArray(QByteArray)>& edit);

// Mounts a tmpfs of size (as mount takes it, "512k") on directory when this process
// may; the returned holder unmounts it when the last copy goes, and is null when
// nothing was mounted.
std::shared_ptr<void> mountSmallFileSystem(const QString& directory, const QString& size);

// The sample flat package with a payload of bytes random bytes, written to name.
QString largeFlatPackage(const QString& name, qint64 bytes);

// Processes events until condition holds or timeoutMs passes.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 30000);

// Asks widget for its context menu, as a right click near its top left corner
// would, and hands the menu to look while it is shown (then closes it); false when
// no menu showed.
bool withContextMenu(QWidget* widget, const std::function<void(QMenu*)>& look);

// The main window's menu action with this text, or null.
QAction* findAction(CAdminPage* window, const QString& text);

using TestSupport::CModalAnswerer;

// Goes through the review that opens every publish; a handler for CModalAnswerer.
bool acceptReview(QDialog* dialog);

// Initialises the preference library and puts the tools first on PATH.
class AppFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace AppTest
