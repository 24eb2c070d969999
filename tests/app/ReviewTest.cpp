#include "AppTestSupport.h"

#include "app/review/ReviewDialog.h"
#include "app/validation/CheckResults.h"
#include "app/window/AdminPage.h"
#include "tests/support/TestEnvironment.h"

#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTreeWidget>

using namespace AppTest;

// Readable failures for Qt strings.
inline void PrintTo(const QString& text, std::ostream* stream)
{
    *stream << '"' << text.toStdString() << '"';
}

namespace
{
const QString kToken = QStringLiteral("ABCDEF0123456789");

// A customization of the sample with changes on four pages, a secret among them.
QString writeCustomization()
{
    const QString flat = QFileInfo(sample("TessarySample.pkg")).absoluteFilePath();
    return writeFile(
        "review/custom.xml",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<AdminCustomization version=\"1.0\" "
        "source=\"" +
            flat.toUtf8() +
            "\" lastSaveFile=\"\"><properties>"
            "<property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\">review.example.org"
            "</property>"
            "<property name=\"SENTINEL_ENROLLMENT_TOKEN\" widget=\"EnrollmentToken\">" +
            kToken.toUtf8() +
            "</property>"
            "<property name=\"SENTINEL_QUARANTINE_DAYS\" widget=\"QuarantineDays\">90</property>"
            "<property name=\"SENTINEL_SCAN_SCHEDULE\" widget=\"ScanSchedule\">daily</property>"
            "<property name=\"SENTINEL_PROXY_MODE\" widget=\"ProxyMode\">none</property>"
            "<property name=\"SENTINEL_SERVER_PORT\" widget=\"ServerPort\">8443</property>"
            "</properties></AdminCustomization>\n");
}

QStringList rowOf(const QTreeWidgetItem* item)
{
    QStringList cells;
    for (int column = 0; column < item->columnCount(); ++column)
        cells << item->text(column);
    return cells;
}

// The rows of the report's table of changes, as Python's HTML parser reads them.
QList<QStringList> htmlRows(const QString& path)
{
    const QString script = writeFile(
        "review/rows.py",
        "import html.parser, json, sys\n"
        "class Rows(html.parser.HTMLParser):\n"
        "    def __init__(self):\n"
        "        super().__init__(); self.rows = []; self.inside = 0; self.cell = None\n"
        "    def handle_starttag(self, tag, attrs):\n"
        "        if tag == 'table' and ('class', 'changes') in attrs: self.inside = 1\n"
        "        elif self.inside and tag == 'tr': self.rows.append([])\n"
        "        elif self.inside and tag == 'td': self.cell = ''\n"
        "    def handle_endtag(self, tag):\n"
        "        if tag == 'table': self.inside = 0\n"
        "        elif tag == 'td' and self.cell is not None:\n"
        "            self.rows[-1].append(self.cell); self.cell = None\n"
        "    def handle_data(self, data):\n"
        "        if self.cell is not None: self.cell += data\n"
        "parser = Rows(); parser.feed(open(sys.argv[1], encoding='utf-8').read()); parser.close()\n"
        "print(json.dumps([row for row in parser.rows if row]))\n");
    std::string output;
    EXPECT_EQ(0, TestSupport::runCommand(
                     QString("python3 '" + script + "' '" + path + "'").toStdString(), &output));
    QList<QStringList> rows;
    for (const QJsonValue& row : QJsonDocument::fromJson(QByteArray::fromStdString(output)).array())
    {
        QStringList cells;
        for (const QJsonValue& cell : row.toArray())
            cells << cell.toString();
        rows << cells;
    }
    return rows;
}
} // namespace

class ReviewTest : public AppFixture
{
};

TEST_F(ReviewTest, ListsChangesPageByPageAndTakesTheWindowToARow)
{
    const QString custom = writeCustomization();
    CModalAnswerer driver(QMessageBox::Yes);
    CAdminPage window(custom, QStringList());
    ASSERT_TRUE(driver.m_lTexts.isEmpty()) << driver.m_lTexts.join('\n').toStdString();

    const QList<QStringList> expected{
        {"Management Server", "Server address", "SENTINEL_SERVER", "(empty)", "review.example.org"},
        {"Management Server", "Enrollment token", "SENTINEL_ENROLLMENT_TOKEN", "not set", "set"},
        {"Protection", "Keep quarantined files for", "SENTINEL_QUARANTINE_DAYS", "30", "90"},
        {"Scanning", "Scheduled scan", "SENTINEL_SCAN_SCHEDULE", "weekly", "daily"},
        {"Proxy", "ProxyMode", "SENTINEL_PROXY_MODE", "system", "none"}};
    QList<QStringList> shown;
    QString shell;
    QString javaScript;
    bool checked = false;
    const QString html = testPath("review/report.html");
    const QString text = testPath("review/report.txt");
    driver.m_lHandlers << [&](QDialog* dialog)
    {
        CReviewDialog* const review = qobject_cast<CReviewDialog*>(dialog);
        if (!review)
            return false;
        QTreeWidget* const table = review->table();
        for (int i = 0; i < table->topLevelItemCount(); ++i)
            shown << rowOf(table->topLevelItem(i));
        // The installer's digest comes from a worker; the report is written with it.
        EXPECT_TRUE(waitFor([&] { return review->report().m_sSourceDigest.size() == 64; }));
        shell = review->findChild<QPlainTextEdit*>(QStringLiteral("shellText"))->toPlainText();
        javaScript =
            review->findChild<QPlainTextEdit*>(QStringLiteral("javaScriptText"))->toPlainText();
        EXPECT_TRUE(review->report().write(html, true, nullptr));
        EXPECT_TRUE(review->report().write(text, false, nullptr));

        // A click on the scan schedule shows its page and puts the focus there.
        for (int i = 0; i < table->topLevelItemCount(); ++i)
        {
            QTreeWidgetItem* const item = table->topLevelItem(i);
            if (item->text(2) != QLatin1String("SENTINEL_SCAN_SCHEDULE"))
                continue;
            table->scrollToItem(item);
            QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                              table->visualItemRect(item).center());
        }
        checked = true;
        review->reject();
        return true;
    };
    QAction* const action = findAction(&window, QStringLiteral("&Review customizations..."));
    ASSERT_TRUE(action && action->isEnabled());
    action->trigger();
    ASSERT_TRUE(checked);

    EXPECT_EQ(expected, shown);
    EXPECT_TRUE(shell.contains("export SENTINEL_SERVER='review.example.org'\n"))
        << shell.toStdString();
    EXPECT_TRUE(shell.contains("export SENTINEL_ENROLLMENT_TOKEN='********'\n"))
        << shell.toStdString();
    EXPECT_TRUE(javaScript.startsWith("var ts_properties = new Array();\n"));
    EXPECT_TRUE(javaScript.contains("ts_properties[\"SENTINEL_SCAN_SCHEDULE\"] = \"daily\";"));
    EXPECT_FALSE(shell.contains(kToken) || javaScript.contains(kToken));

    CPage* const page = qobject_cast<CPage*>(window.pageHolder()->currentWidget());
    ASSERT_TRUE(page);
    EXPECT_EQ(QStringLiteral("ScanPage"), page->name());
    EXPECT_EQ(window.findChild<QComboBox*>(QStringLiteral("ScanSchedule")), window.focusWidget());

    // The report: the same rows, the installer it applies to, and no secret.
    EXPECT_EQ(expected, htmlRows(html));
    QFile report(html);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QString document = QString::fromUtf8(report.readAll());
    EXPECT_TRUE(document.contains("<td>Ombrel Sentinel</td>")) << document.toStdString();
    EXPECT_TRUE(document.contains(
        QDir::toNativeSeparators(QFileInfo(sample("TessarySample.pkg")).absoluteFilePath())));
    std::string digest;
    ASSERT_EQ(0, TestSupport::runCommand("sha256sum '" + sample("TessarySample.pkg").toStdString() +
                                             "' | cut -c1-64",
                                         &digest));
    EXPECT_TRUE(document.contains(QString::fromStdString(digest).trimmed()));
    EXPECT_FALSE(document.contains("<script") || document.contains("src=") ||
                 document.contains("href="));
    EXPECT_FALSE(document.contains(kToken));
    QFile plain(text);
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    const QString plainText = QString::fromUtf8(plain.readAll());
    EXPECT_TRUE(plainText.contains("[Scanning]\n  Scheduled scan (SENTINEL_SCAN_SCHEDULE)\n"
                                   "    Default: weekly\n    Value: daily\n"))
        << plainText.toStdString();
    EXPECT_FALSE(plainText.contains(kToken));
}

TEST_F(ReviewTest, PublishOpensWithTheReviewUntilToldNotTo)
{
    CModalAnswerer driver(QMessageBox::Yes);
    CAdminPage window(writeCustomization(), QStringList());
    int reviews = 0;
    bool go = false;
    driver.m_lHandlers << [&](QDialog* dialog)
    {
        if (dialog->objectName() != QLatin1String("ReviewDialog"))
            return false;
        ++reviews;
        if (!go)
        {
            dialog->reject();
            return true;
        }
        dialog->findChild<QCheckBox*>(QStringLiteral("dontShowAgain"))->setChecked(true);
        dialog->accept();
        return true;
    };
    // Canceled: nothing else is asked.
    window.publish();
    EXPECT_EQ(1, reviews);
    EXPECT_EQ(0, driver.m_lFileCaptions.size());

    go = true;
    window.publish();
    EXPECT_EQ(2, reviews);
    EXPECT_EQ(1, driver.m_lFileCaptions.size());
    EXPECT_FALSE(CReviewDialog::shownBeforePublish());

    window.publish();
    EXPECT_EQ(2, reviews);
    EXPECT_EQ(2, driver.m_lFileCaptions.size());

    // The review from the menu turns it back on.
    driver.m_lHandlers.prepend(
        [&](QDialog* dialog)
        {
            QCheckBox* const before =
                dialog->findChild<QCheckBox*>(QStringLiteral("showBeforePublish"));
            if (!before)
                return false;
            EXPECT_FALSE(before->isChecked());
            before->setChecked(true);
            dialog->reject();
            return true;
        });
    window.review();
    EXPECT_TRUE(CReviewDialog::shownBeforePublish());
    EXPECT_TRUE(driver.m_lUnhandled.isEmpty()) << driver.m_lUnhandled.join(',').toStdString();
}

TEST_F(ReviewTest, TheReportCarriesTheLastWebChecksOfTheDocument)
{
    // One address answers, the other refuses the connection.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server, &QTcpServer::newConnection,
                     [&]
                     {
                         QTcpSocket* const socket = server.nextPendingConnection();
                         QObject::connect(socket, &QTcpSocket::readyRead,
                                          [socket]
                                          {
                                              socket->readAll();
                                              socket->write("HTTP/1.1 200 OK\r\nContent-Length: "
                                                            "2\r\nConnection: close\r\n\r\nok");
                                              socket->disconnectFromHost();
                                          });
                     });
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 refusing = closed.serverPort();
    closed.close();
    const QString up = QStringLiteral("http://127.0.0.1:%1/ok").arg(server.serverPort());
    const QString down = QStringLiteral("http://127.0.0.1:%1/").arg(refusing);
    const QString definition = writeFile(
        "checks/Definition.xml",
        QStringLiteral("<AdminConfig version=\"1.8\" title=\"Checks\"><pageholder>"
                       "<page name=\"P\" title=\"P\" layout=\"vertical\">"
                       "<lineedit name=\"Host\" property=\"HOST\"/>"
                       "<pushbutton name=\"Check\" title=\"Check\">"
                       "<validateurl signal=\"clicked\" slot=\"validate\" title=\"Local\">"
                       "<url name=\"Up\" u=\"%1\" statusValidation=\"200\"/><url u=\"%2\"/>"
                       "</validateurl></pushbutton></page></pageholder></AdminConfig>")
            .arg(up, down)
            .toUtf8());
    CModalAnswerer driver(QMessageBox::Yes);
    CAdminPage window(definition, QStringList());
    QPushButton* const check = window.findChild<QPushButton*>(QStringLiteral("Check"));
    ASSERT_TRUE(check);
    // The results dialog is closed once both checks are done.
    driver.m_lHandlers << [&](QDialog* dialog)
    {
        if (dialog->windowTitle() != QLatin1String("Local"))
            return false;
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
        {
            if (button->text() == QLatin1String("Close") && button->isEnabled())
                button->click();
        }
        return true;
    };
    check->click();
    driver.m_lHandlers.clear();

    const QStringList lines = CCheckResults::lines();
    ASSERT_EQ(2, lines.size()) << lines.join('\n').toStdString();
    EXPECT_EQ(QString("Local: Up (" + up + "): passed"), lines.at(0));
    EXPECT_TRUE(lines.at(1).startsWith("Local: " + down + ": failed")) << lines.at(1).toStdString();

    QString html;
    driver.m_lHandlers << [&](QDialog* dialog)
    {
        CReviewDialog* const review = qobject_cast<CReviewDialog*>(dialog);
        if (!review)
            return false;
        html = review->report().toHtml();
        review->reject();
        return true;
    };
    window.review();
    EXPECT_TRUE(
        html.contains("<ul class=\"checks\">\n<li>" + lines.at(0).toHtmlEscaped() + "</li>"))
        << html.toStdString();

    // Another document starts without results.
    driver.m_lFileAnswers << testPath("checks/saved.xml");
    window.open(definition);
    EXPECT_TRUE(CCheckResults::lines().isEmpty()) << CCheckResults::lines().join('\n').toStdString()
                                                  << driver.m_lTexts.join('\n').toStdString();
}

TEST_F(ReviewTest, ValuesCannotForgeRowsOrTurnTextAroundInTheReviewAndItsReport)
{
    const QString flat = QFileInfo(sample("TessarySample.pkg")).absoluteFilePath();
    // A value that would start a page and a row of its own, and reverse what follows.
    const QString custom = writeFile(
        "review/forged.xml",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<AdminCustomization version=\"1.0\" "
        "source=\"" +
            flat.toUtf8() +
            "\"><properties>"
            "<property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\">ok.example</property>"
            "<property name=\"SENTINEL_SCAN_EXCLUSIONS\" widget=\"Exclusions\">/tmp\n[Proxy]\n"
            "  Fake (SENTINEL_PROXY)\xe2\x80\xae</property>"
            "</properties></AdminCustomization>\n");
    CModalAnswerer driver(QMessageBox::Yes);
    CAdminPage window(custom, QStringList());
    QStringList cells;
    QString text;
    QString html;
    QString shell;
    driver.m_lHandlers << [&](QDialog* dialog)
    {
        CReviewDialog* const review = qobject_cast<CReviewDialog*>(dialog);
        if (!review)
            return false;
        for (int i = 0; i < review->table()->topLevelItemCount(); ++i)
            cells << rowOf(review->table()->topLevelItem(i));
        text = review->report().toText();
        html = review->report().toHtml();
        shell = review->findChild<QPlainTextEdit*>(QStringLiteral("shellText"))->toPlainText();
        review->reject();
        return true;
    };
    window.review();
    EXPECT_FALSE(shell.contains(QChar(0x202E))) << shell.toStdString();
    EXPECT_TRUE(shell.contains("[Proxy]\n  Fake (SENTINEL_PROXY)\\u202e'")) << shell.toStdString();
    EXPECT_TRUE(cells.contains("/tmp\\n[Proxy]\\n  Fake (SENTINEL_PROXY)\\u202e"))
        << cells.join('|').toStdString();
    for (const QString& cell : cells)
        EXPECT_FALSE(cell.contains('\n') || cell.contains(QChar(0x202E))) << cell.toStdString();
    // The report names the value escaped; the published texts keep its line breaks,
    // which their quoting holds, but show the reversal as an escape too.
    const QString changes = text.section(QStringLiteral("\nShell properties:\n"), 0, 0);
    EXPECT_FALSE(changes.contains("\n[Proxy]")) << text.toStdString();
    EXPECT_TRUE(changes.contains("Value: /tmp\\n[Proxy]")) << text.toStdString();
    EXPECT_FALSE(text.contains(QChar(0x202E)) || html.contains(QChar(0x202E)));
    EXPECT_TRUE(text.contains("export SENTINEL_SCAN_EXCLUSIONS='/tmp\n")) << text.toStdString();
}

TEST_F(ReviewTest, OpensAtOnceAndNamesTheInstallerTheCustomizationAndMissingSecrets)
{
    // A copy no earlier review has read, so its digest is not known yet.
    QDir().mkpath(testPath("review/digest"));
    const QString installer = testPath("review/digest/Installer.pkg");
    QFile::remove(installer);
    ASSERT_TRUE(QFile::copy(sample("TessarySample.pkg"), installer));
    const QString custom = writeFile(
        "review/digest/custom.xml",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<AdminCustomization version=\"1.0\" "
        "source=\"" +
            installer.toUtf8() +
            "\"><properties>"
            "<property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\">ok.example</property>"
            "<property name=\"SENTINEL_ENROLLMENT_TOKEN\" widget=\"EnrollmentToken\" "
            "omitted=\"secret\"/></properties></AdminCustomization>\n");
    auto sha256 = [](const QString& path)
    {
        std::string digest;
        EXPECT_EQ(0,
                  TestSupport::runCommand(
                      "sha256sum " + shellQuoted(path).toStdString() + " | cut -c1-64", &digest));
        return QString::fromStdString(digest).trimmed();
    };
    CModalAnswerer driver(QMessageBox::Yes);
    CAdminPage window(custom, QStringList());
    ASSERT_TRUE(driver.m_lTexts.isEmpty()) << driver.m_lTexts.join('\n').toStdString();

    CReviewDialog review(&window, window.document(), testPath("review/digest"), false);
    QLabel* const digest = review.findChild<QLabel*>(QStringLiteral("installerDigest"));
    QPushButton* const exportHtml = review.findChild<QPushButton*>(QStringLiteral("exportHtml"));
    ASSERT_TRUE(digest && exportHtml);
    // Nothing was read on the window's thread: the digest is still being computed,
    // and a report written now would lack it.
    EXPECT_EQ(QString::fromUtf8("computing\u2026"), review.report().m_sSourceDigest);
    EXPECT_TRUE(digest->text().contains(QString::fromUtf8("computing\u2026")))
        << digest->text().toStdString();
    EXPECT_FALSE(exportHtml->isEnabled());
    const QString expected = sha256(installer);
    ASSERT_TRUE(waitFor([&] { return review.report().m_sSourceDigest == expected; }))
        << review.report().m_sSourceDigest.toStdString();
    EXPECT_TRUE(digest->text().contains(expected)) << digest->text().toStdString();
    EXPECT_TRUE(exportHtml->isEnabled());

    // Publishing asks for the token the file was saved without: the review says so.
    QList<QStringList> rows;
    for (int i = 0; i < review.table()->topLevelItemCount(); ++i)
        rows << rowOf(review.table()->topLevelItem(i));
    const QStringList missing{"Management Server", "Enrollment token", "SENTINEL_ENROLLMENT_TOKEN",
                              "not set", QString::fromUtf8("not set \u2013 asked when publishing")};
    EXPECT_TRUE(rows.contains(missing)) << rows.size();

    const QString html = testPath("review/digest/report.html");
    ASSERT_TRUE(review.report().write(html, true, nullptr));
    EXPECT_TRUE(htmlRows(html).contains(missing));
    const QString document = QString::fromUtf8(bytesOf(html));
    const QString text = review.report().toText();
    const QString customDigest = sha256(custom);
    ASSERT_EQ(64, customDigest.size());
    for (const QString& line :
         {QString("Source installer: " + QDir::toNativeSeparators(installer)),
          QString("SHA-256: " + expected), QString("Customization file: " + custom),
          QString("Customization SHA-256: " + customDigest),
          QString("Tessary version: " TESSARY_TEST_VERSION)})
        EXPECT_TRUE(text.contains(line + '\n')) << line.toStdString() << "\n" << text.toStdString();
    for (const QString& cell : {expected, custom, customDigest, QString(TESSARY_TEST_VERSION)})
        EXPECT_TRUE(document.contains("<td>" + cell + "</td>")) << cell.toStdString();
}
