#include "AppTestSupport.h"

#include "app/document/SecretProperty.h"
#include "app/secrets/SecretPromptDialog.h"
#include "app/window/AdminPage.h"
#include "tests/support/TestEnvironment.h"

#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"
#include "shared/XmlWidgets/XmlObject.h"
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMutex>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTest>
#include <QTimer>

using namespace AppTest;

namespace
{
QMutex g_logLock;
QStringList g_log;

void keepMessage(QtMsgType, const QMessageLogContext&, const QString& text)
{
    QMutexLocker locker(&g_logLock);
    g_log.append(text);
}

// Everything the program writes to its debug log while it lives.
class CLogCapture
{
public:
    CLogCapture() : m_previous(qInstallMessageHandler(keepMessage)) {}
    ~CLogCapture() { qInstallMessageHandler(m_previous); }
    QString text() const
    {
        QMutexLocker locker(&g_logLock);
        return g_log.join(QLatin1Char('\n'));
    }

private:
    QtMessageHandler m_previous;
};

const QString kToken = QStringLiteral("S3CR3TT0K3N4UTHX");
} // namespace

class SecretTest : public AppFixture
{
};

TEST_F(SecretTest, SecretsAreKnownByNameOrByTheirElement)
{
    for (const char* name : {"SENTINEL_ENROLLMENT_TOKEN", "proxy_password", "DB_PASSWD",
                             "ClientSecret", "X_ApiKey", "API_KEY", "x_api_key", "SSH_PASSPHRASE",
                             "Credential", "DB_CREDENTIALS", "PWD", "db_pwd", "PWD_HASH"})
        EXPECT_TRUE(CSecretProperty::nameLooksSecret(QLatin1String(name))) << name;
    // The short part only as a word of its own: not inside longer words.
    for (const char* name : {"SENTINEL_SERVER", "PASS", "TOKE", "PWDEBUG", "DEBUG_PWDIR", "KEY"})
        EXPECT_FALSE(CSecretProperty::nameLooksSecret(QLatin1String(name))) << name;
    EXPECT_EQ(QStringLiteral("set"), CSecretProperty::shownValue(QStringLiteral("x")));
    EXPECT_EQ(QStringLiteral("not set"), CSecretProperty::shownValue(QString()));

    const QString definition =
        writeFile("secret/Definition.xml",
                  "<AdminConfig version=\"1.8\" title=\"Secrets\"><pageholder><page name=\"P\" "
                  "title=\"P\" layout=\"vertical\">"
                  "<lineedit name=\"Marked\" property=\"HOST_KEY\" secret=\"1\"/>"
                  "<lineedit name=\"Typo\" property=\"HOST_KEY2\" secret=\"yes please\"/>"
                  "<lineedit name=\"Unmarked\" property=\"HOST_NAME\" secret=\"0\"/>"
                  "<lineedit name=\"Named\" property=\"Proxy_Password\"/>"
                  "</page></pageholder></AdminConfig>");
    CModalAnswerer answerer;
    CAdminPage window(definition, QStringList());
    ASSERT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
    for (const char* name : {"Marked", "Typo", "Named"})
    {
        QLineEdit* const field = window.findChild<QLineEdit*>(QLatin1String(name));
        ASSERT_TRUE(field) << name;
        EXPECT_EQ(QLineEdit::Password, field->echoMode()) << name;
        QAction* const toggle = field->findChild<QAction*>(QStringLiteral("showSecret"));
        ASSERT_TRUE(toggle) << name;
        toggle->trigger();
        EXPECT_EQ(QLineEdit::Normal, field->echoMode()) << name;
        toggle->trigger();
        EXPECT_EQ(QLineEdit::Password, field->echoMode()) << name;
    }
    QLineEdit* const plain = window.findChild<QLineEdit*>(QStringLiteral("Unmarked"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(QLineEdit::Normal, plain->echoMode());
    EXPECT_FALSE(plain->findChild<QAction*>(QStringLiteral("showSecret")));
}

TEST_F(SecretTest, ASecretTextFieldIsMaskedUntilItsToggleShowsIt)
{
    const QString definition =
        writeFile("secret/Text.xml",
                  "<AdminConfig version=\"1.8\" title=\"Secrets\"><pageholder><page name=\"P\" "
                  "title=\"P\" layout=\"vertical\">"
                  "<textedit name=\"Key\" property=\"SIGNING_KEY\" secret=\"1\"/>"
                  "<textedit name=\"Notes\" property=\"NOTES\"/>"
                  "</page></pageholder></AdminConfig>");
    CModalAnswerer answerer;
    CAdminPage window(definition, QStringList());
    window.show();
    ASSERT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
    CPage* const page = window.findChild<CPage*>(QStringLiteral("P"));
    ASSERT_TRUE(page);
    window.pageHolder()->setActivePage(page);
    QPlainTextEdit* const key = window.findChild<QPlainTextEdit*>(QStringLiteral("Key"));
    QPlainTextEdit* const notes = window.findChild<QPlainTextEdit*>(QStringLiteral("Notes"));
    ASSERT_TRUE(key && notes);
    EXPECT_FALSE(notes->findChild<QAction*>(QStringLiteral("showSecret")));
    QAction* const toggle = key->findChild<QAction*>(QStringLiteral("showSecret"));
    ASSERT_TRUE(toggle);
    // Two values of one shape look alike while masked, and apart once shown.
    auto looks = [&](const QString& value)
    {
        key->setPlainText(value);
        QCoreApplication::processEvents();
        return key->grab().toImage();
    };
    const QString first = QStringLiteral("-----BEGIN KEY-----\nMIIEvAIBADANBgkq\n");
    const QString second = QStringLiteral("-----BEGIN KEY-----\nZZZZZZZZZZZZZZZZ\n");
    auto alike = [&]
    {
        const QImage one = looks(first);
        return one == looks(second);
    };
    EXPECT_TRUE(alike());
    toggle->trigger();
    EXPECT_FALSE(alike());
    toggle->trigger();
    EXPECT_TRUE(alike());
    // Masking changes what is shown, never the value.
    const CXmlObject* const object = dynamic_cast<const CXmlObject*>(key);
    ASSERT_TRUE(object);
    EXPECT_EQ(second, object->getValue());
    EXPECT_NE(looks(QString()), looks(first));

    // While masked, nothing of it reaches the clipboard; shown, it does.
    auto copied = [&]
    {
        QApplication::clipboard()->setText(QStringLiteral("before"));
        key->setFocus();
        key->selectAll();
        QTest::keySequence(key, QKeySequence::Copy);
        return QApplication::clipboard()->text();
    };
    key->setPlainText(first);
    EXPECT_NE(first, copied());
    EXPECT_FALSE(copied().contains(QLatin1String("MIIE")));
    toggle->trigger();
    EXPECT_EQ(first, copied());
    toggle->trigger();
    QApplication::clipboard()->setText(QStringLiteral("before"));
    key->selectAll();
    QTest::keySequence(key, QKeySequence::Cut);
    EXPECT_FALSE(QApplication::clipboard()->text().contains(QLatin1String("MIIE")));
    // Cut takes nothing out of a masked field: the value stays whole.
    EXPECT_EQ(first, object->getValue());

    // Nor does its menu offer to copy or cut it.
    QMap<QString, bool> offered;
    key->selectAll();
    withContextMenu(key->viewport(),
                    [&](QMenu* menu)
                    {
                        for (QAction* const action : menu->actions())
                            offered.insert(action->objectName(), action->isEnabled());
                    });
    ASSERT_TRUE(offered.contains(QStringLiteral("edit-copy")));
    EXPECT_FALSE(offered.value(QStringLiteral("edit-copy")));
    EXPECT_FALSE(offered.value(QStringLiteral("edit-cut")));
    EXPECT_TRUE(offered.value(QStringLiteral("edit-paste")));
}

TEST_F(SecretTest, SavedFilesAndTheLogLackSecretsWhichPublishingAsksForAndShips)
{
    CLogCapture log;
    CModalAnswerer driver(QMessageBox::Yes);
    const QString settings = testPath("custom/settings.xml");
    const QString kept = testPath("custom/kept.xml");
    QDir().mkpath(testPath("custom"));
    QDir().mkpath(testPath("out"));
    {
        CAdminPage window(sample("TessarySample.pkg"), QStringList());
        QLineEdit* const token = window.findChild<QLineEdit*>(QStringLiteral("EnrollmentToken"));
        QLineEdit* const server = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
        ASSERT_TRUE(token && server);
        // Empty, the masked field shows no bullets (as if it held a token); filled,
        // one per character and nothing of the token.
        EXPECT_TRUE(token->displayText().trimmed().isEmpty()) << token->displayText().toStdString();
        server->setText(QStringLiteral("console.example.org"));
        token->setText(kToken);
        ASSERT_EQ(kToken, token->text());
        EXPECT_EQ(QLineEdit::Password, token->echoMode());
        EXPECT_EQ(QString(kToken.size(),
                          QChar(token->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter,
                                                          nullptr, token))),
                  token->displayText());
        token->clear();
        EXPECT_TRUE(token->displayText().trimmed().isEmpty()) << token->displayText().toStdString();
        token->setText(kToken);

        driver.m_lFileAnswers << settings;
        window.saveAs();
        const QByteArray saved = bytesOf(settings);
        EXPECT_TRUE(saved.contains("console.example.org")) << saved.toStdString();
        EXPECT_FALSE(saved.contains(kToken.toUtf8())) << saved.toStdString();
        EXPECT_TRUE(saved.contains("<property name=\"SENTINEL_ENROLLMENT_TOKEN\" "
                                   "widget=\"EnrollmentToken\" omitted=\"secret\" />"))
            << saved.toStdString();

        // Ticked in the dialog, the file keeps them, and so does a later plain Save.
        driver.m_lHandlers << [](QDialog* dialog)
        {
            QCheckBox* const box =
                qobject_cast<QFileDialog*>(dialog)
                    ? dialog->findChild<QCheckBox*>(QStringLiteral("storeSecrets"))
                    : nullptr;
            if (box)
                box->setChecked(true);
            // Answered then with the queued path.
            return false;
        };
        driver.m_lFileAnswers << kept;
        window.saveAs();
        driver.m_lHandlers.clear();
        EXPECT_TRUE(bytesOf(kept).contains(kToken.toUtf8()))
            << bytesOf(kept).toStdString() << driver.m_lTexts.join(QLatin1Char('\n')).toStdString();
    }
    {
        CAdminPage window(kept, QStringList());
        EXPECT_EQ(kToken, window.findChild<QLineEdit*>(QStringLiteral("EnrollmentToken"))->text());
        window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))
            ->setText(QStringLiteral("other.example.org"));
        window.save();
        EXPECT_TRUE(bytesOf(kept).contains("other.example.org"));
        EXPECT_TRUE(bytesOf(kept).contains(kToken.toUtf8()))
            << bytesOf(kept).toStdString() << driver.m_lTexts.join(QLatin1Char('\n')).toStdString();
    }

    CAdminPage window(settings, QStringList());
    QLineEdit* const token = window.findChild<QLineEdit*>(QStringLiteral("EnrollmentToken"));
    ASSERT_TRUE(token);
    EXPECT_TRUE(token->text().isEmpty());
    // Saved again while the secret is still missing, the file goes on marking it.
    window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))
        ->setText(QStringLiteral("third.example.org"));
    window.save();
    EXPECT_TRUE(bytesOf(settings).contains("third.example.org"));
    EXPECT_TRUE(bytesOf(settings).contains("omitted=\"secret\""))
        << bytesOf(settings).toStdString();

    // Canceling the question publishes nothing.
    int asked = 0;
    const CModalAnswerer::Handler review = [](QDialog* dialog)
    {
        if (dialog->objectName() != QLatin1String("ReviewDialog"))
            return false;
        dialog->accept();
        return true;
    };
    driver.m_lHandlers << review
                       << [&](QDialog* dialog)
    {
        if (dialog->objectName() != QLatin1String("SecretPromptDialog"))
            return false;
        ++asked;
        dialog->reject();
        return true;
    };
    const QString output = testPath("out/Published.pkg");
    driver.m_lFileAnswers << output;
    window.publish();
    EXPECT_EQ(1, asked);
    EXPECT_EQ(QStringList{output}, driver.m_lFileAnswers);
    EXPECT_FALSE(QFileInfo::exists(output));

    driver.m_lHandlers.clear();
    driver.m_lHandlers << review
                       << [&](QDialog* dialog)
    {
        if (dialog->objectName() != QLatin1String("SecretPromptDialog"))
            return false;
        ++asked;
        QLineEdit* const field =
            dialog->findChild<QLineEdit*>(QStringLiteral("SENTINEL_ENROLLMENT_TOKEN"));
        EXPECT_TRUE(field);
        if (field)
        {
            field->setText(kToken);
            EXPECT_EQ(QLineEdit::Password, field->echoMode());
        }
        dialog->accept();
        return true;
    };
    window.publish();
    EXPECT_EQ(2, asked);
    ASSERT_TRUE(waitFor(
        [&]
        {
            return driver.m_lTexts.contains(
                QStringLiteral("Tessary successfully generated the installation package."));
        }))
        << driver.m_lTexts.join('\n').toStdString();
    EXPECT_EQ(kToken, token->text());

    const QString expanded = testPath("out/expanded");
    std::string result;
    const QString expand = "pkgutil --expand " + shellQuoted(output) + " " + shellQuoted(expanded);
    ASSERT_EQ(0, TestSupport::runCommand(expand.toStdString(), &result)) << result;
    EXPECT_TRUE(bytesOf(expanded + "/Scripts/properties")
                    .contains("export SENTINEL_ENROLLMENT_TOKEN='" + kToken.toUtf8() + "'\n"));
    EXPECT_TRUE(bytesOf(expanded + "/Distribution").contains(kToken.toUtf8()));

    EXPECT_TRUE(driver.m_lUnhandled.isEmpty()) << driver.m_lUnhandled.join(',').toStdString();
    const QString logged = log.text();
    EXPECT_TRUE(logged.contains("CCopyFileThread::enqueue()")) << "nothing was logged";
    EXPECT_FALSE(logged.contains(kToken)) << logged.toStdString();
}

TEST_F(SecretTest, ThePromptKeepsASecretsLinesAndItsFieldsRules)
{
    const QString definition = writeFile(
        "secret/Prompt.xml",
        "<AdminConfig version=\"1.8\" title=\"Secrets\"><pageholder><page name=\"P\" "
        "title=\"P\" layout=\"vertical\">"
        "<textedit name=\"Key\" property=\"SIGNING_KEY\" secret=\"1\"/>"
        "<lineedit name=\"Token\" property=\"ENROLL_TOKEN\" mask=\"&gt;NNNN\" secret=\"1\"/>"
        "</page></pageholder></AdminConfig>");
    CModalAnswerer answerer;
    CAdminPage window(definition, QStringList());
    CXmlObject* const key = dynamic_cast<CXmlObject*>(window.findChild<QWidget*>("Key"));
    CXmlObject* const token = dynamic_cast<CXmlObject*>(window.findChild<QWidget*>("Token"));
    ASSERT_TRUE(key && token);

    CSecretPromptDialog dialog({key, token}, QStringLiteral("Secrets"), &window);
    QPlainTextEdit* const keyField = dialog.findChild<QPlainTextEdit*>("SIGNING_KEY");
    QLineEdit* const tokenField = dialog.findChild<QLineEdit*>("ENROLL_TOKEN");
    ASSERT_TRUE(keyField && tokenField);
    EXPECT_TRUE(keyField->findChild<QAction*>(QStringLiteral("showSecret")));

    // A token too short for its mask is refused, and then nothing changes.
    const QString pem = QStringLiteral("-----BEGIN KEY-----\nMIIEvAIBADANBgkq\n-----END KEY-----");
    keyField->setPlainText(pem);
    tokenField->setText(QStringLiteral("ab"));
    EXPECT_EQ(QLineEdit::Password, tokenField->echoMode());
    EXPECT_FALSE(dialog.apply());
    EXPECT_TRUE(key->getValue().isEmpty());
    EXPECT_TRUE(token->getValue().isEmpty());
    QLabel* const problem = dialog.findChild<QLabel*>("problem");
    ASSERT_TRUE(problem);
    EXPECT_TRUE(problem->isVisibleTo(&dialog));
    EXPECT_FALSE(problem->text().contains(QLatin1String("ab"), Qt::CaseInsensitive));

    tokenField->setText(QStringLiteral("abcd"));
    EXPECT_TRUE(dialog.apply());
    EXPECT_EQ(pem.toStdString(), key->getValue().toStdString());
    EXPECT_EQ(QStringLiteral("ABCD"), token->getValue());
}
