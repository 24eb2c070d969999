// The window and the command line hold the same document: customizations with
// values at and beyond every rule of every field kind of the sample definition are
// published through the window's Publish and through the real tessary-cli, with
// the same source date. Both must take or refuse each one alike, publish the same
// bytes, and show the same values.
#include "AppTestSupport.h"
#include "CliRunner.h"

#include "app/document/Document.h"
#include "app/document/SecretProperty.h"
#include "app/window/AdminPage.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <iostream>
#include <random>
#include <sys/stat.h>

using namespace AppTest;

namespace
{
// At least 200; a sanitizer run may ask for fewer (it looks for memory faults, which
// a few dozen find as well).
int customizations()
{
    bool ok = false;
    const int wanted = qEnvironmentVariableIntValue("TESSARY_DIFFERENTIAL_CUSTOMIZATIONS", &ok);
    return ok && wanted > 0 ? wanted : 200;
}

// The rules of one property as tessary-cli show --json reports them.
struct CRule
{
    QString m_sProperty;
    QString m_sWidget;
    QString m_sKind;
    QStringList m_lChoices;
    bool m_bRange = false;
    int m_iMinimum = 0;
    int m_iMaximum = 0;
    QString m_sMask;
};

QList<CRule> rulesOf(const QString& installer)
{
    const CCliRun shown = runCli({"show", installer, "--json"});
    EXPECT_EQ(0, shown.m_iStatus) << shown.m_sErr.toStdString();
    QList<CRule> rules;
    for (const QJsonValue& value :
         QJsonDocument::fromJson(shown.m_sOut.toUtf8()).object().value("properties").toArray())
    {
        const QJsonObject property = value.toObject();
        CRule rule;
        rule.m_sProperty = property.value("property").toString();
        rule.m_sWidget = property.value("widget").toString();
        rule.m_sKind = property.value("kind").toString();
        for (const QJsonValue& choice : property.value("choices").toArray())
            rule.m_lChoices << choice.toString();
        rule.m_bRange = property.contains("minimum");
        rule.m_iMinimum = property.value("minimum").toInt();
        rule.m_iMaximum = property.value("maximum").toInt();
        rule.m_sMask = property.value("mask").toString();
        rules << rule;
    }
    return rules;
}

// Values of a field of this kind: those within its rules or ones it brings within
// them (valid), and those it refuses (beyond).
struct CCandidates
{
    QStringList m_lValid;
    QStringList m_lBeyond;
};

CCandidates candidates(const CRule& rule)
{
    const QStringList text{"console.example.org",
                           "",
                           "Grüße aus Köln",
                           QStringLiteral("astral \U0001F680 \U0001D11E"),
                           "it's \"quoted\" $HOME `id` \\ end",
                           QString(300, QLatin1Char('x')),
                           QStringLiteral("rtl \u202Egnp.exe")};
    if (rule.m_sKind == QLatin1String("lineedit") && !rule.m_sMask.isEmpty())
        return {{"abcd1234efgh5678", "ABCD1234EFGH5678", "0000000000000000", ""},
                {"AbCd", "abcd-1234-efgh-56"}};
    if (rule.m_sKind == QLatin1String("lineedit"))
        return {text, {"two\nlines", "cr\r\nlf", "tab\there"}};
    if (rule.m_sKind == QLatin1String("numberedit"))
        return {{"8443", "0", "-5", "+80", ""}, {"80abc", " 80", "99999999999", "1,000"}};
    if (rule.m_sKind == QLatin1String("textedit"))
        return {QStringList(text) << "line one\nline two\n"
                                  << "a\r\nb\rc" << QStringLiteral("x\u2029y") << "tab\tand\nlines",
                {}};
    if (rule.m_sKind == QLatin1String("spinbox"))
        return {{QString::number(rule.m_iMinimum), QString::number(rule.m_iMaximum),
                 QString::number(rule.m_iMinimum - 1), QString::number(rule.m_iMaximum + 1),
                 QString::number((rule.m_iMinimum + rule.m_iMaximum) / 2), "007"},
                {"soon", ""}};
    if (rule.m_sKind == QLatin1String("bitmask"))
    {
        qlonglong all = 0;
        for (const QString& box : rule.m_lChoices)
            all |= box.toLongLong();
        return {{"0", QString::number(all), rule.m_lChoices.value(0)},
                {QString::number(all + 1024), "x", "-1"}};
    }
    // Lists, groups and check boxes: each of their values, and ones they do not have.
    QStringList beyond;
    for (const QString& other : {QStringLiteral("maybe"), QString(), QStringLiteral(" yes")})
    {
        if (!rule.m_lChoices.contains(other))
            beyond << other;
    }
    return {rule.m_lChoices, beyond};
}

QString escaped(const QString& text)
{
    QString result = text.toHtmlEscaped();
    result.replace(QLatin1Char('\r'), QLatin1String("&#13;"));
    result.replace(QLatin1Char('\n'), QLatin1String("&#10;"));
    result.replace(QLatin1Char('\t'), QLatin1String("&#9;"));
    return result;
}

// A customization of installer: the server is usually given, the rest at random.
QByteArray generated(std::mt19937& random, const QList<CRule>& rules, const QString& installer,
                     QString& description)
{
    QByteArray properties;
    auto add = [&](const CRule& rule, const QString& value)
    {
        description += rule.m_sProperty + "=" + value.left(40) + "; ";
        // Values go in the attribute so that line ends and spaces stay exact.
        properties += "<property name=\"" + rule.m_sProperty.toUtf8() + "\" widget=\"" +
                      rule.m_sWidget.toUtf8() + "\" value=\"" + escaped(value).toUtf8() + "\"/>\n";
    };
    for (const CRule& rule : rules)
    {
        if (rule.m_sProperty == QLatin1String("SENTINEL_SERVER") && random() % 100 < 85)
        {
            add(rule, QStringLiteral("server%1.example.org").arg(random() % 1000));
            continue;
        }
        if (random() % 5 != 0)
            continue;
        const CCandidates values = candidates(rule);
        const QStringList& from =
            values.m_lBeyond.isEmpty() || random() % 12 != 0 ? values.m_lValid : values.m_lBeyond;
        if (!from.isEmpty())
            add(rule, from.at(int(random() % unsigned(from.size()))));
    }
    if (random() % 10 == 0)
        properties += "<property name=\"NOT_IN_THE_INSTALLER\" widget=\"Nowhere\">x</property>\n";
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<AdminCustomization version=\"1.0\" "
           "source=\"" +
           escaped(installer).toUtf8() + "\" lastSaveFile=\"\"><properties>\n" + properties +
           "</properties></AdminCustomization>\n";
}

// A file's or a folder's bytes, modes and times, by relative path.
QMap<QString, QByteArray> contentsOf(const QString& root)
{
    QMap<QString, QByteArray> tree;
    auto record = [&tree, &root](const QString& path)
    {
        struct stat status;
        ::lstat(QFile::encodeName(path).constData(), &status);
        tree.insert(QDir(root).relativeFilePath(path),
                    QByteArray::number(status.st_mode) + ':' +
                        QByteArray::number(qlonglong(status.st_mtime)) + ':' +
                        (S_ISREG(status.st_mode) ? bytesOf(path) : QByteArray()));
    };
    record(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        record(it.next());
    return tree;
}

// Questions are answered as the command line answers them: with their default.
bool answerWithDefault(QDialog* dialog, QStringList& asked)
{
    QMessageBox* const box = qobject_cast<QMessageBox*>(dialog);
    if (!box || !box->button(QMessageBox::No) || !box->defaultButton())
        return false;
    asked << box->text();
    // Nothing here changes a document; a save question would, and is told.
    if (box->button(QMessageBox::Cancel))
        box->button(QMessageBox::No)->click();
    else
        box->defaultButton()->click();
    return true;
}

class DifferentialTest : public AppFixture, public ::testing::WithParamInterface<const char*>
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        // Both programs record this time instead of the clock.
        qputenv("SOURCE_DATE_EPOCH", "1700000000");
    }
    void TearDown() override
    {
        qunsetenv("SOURCE_DATE_EPOCH");
        AppFixture::TearDown();
    }
};
} // namespace

TEST_P(DifferentialTest, WindowAndCommandLinePublishTheSameForEveryCustomization)
{
    const QString installer = QFileInfo(sample(GetParam())).absoluteFilePath();
    const QList<CRule> rules = rulesOf(installer);
    ASSERT_GT(rules.size(), 20);
    const QString suffix =
        QFileInfo(installer).suffix() == QLatin1String("package") ? QStringLiteral(".package")
        : QFileInfo(installer).suffix() == QLatin1String("mpkg")  ? QStringLiteral(".mpkg")
                                                                  : QStringLiteral(".pkg");
    QDir().mkpath(testPath("custom"));
    QDir().mkpath(testPath("out"));
    const int count = customizations();
    const bool flat = QFileInfo(installer).fileName() == QLatin1String("TessarySample.pkg");
    std::mt19937 random(20261209u + qHash(QString::fromLatin1(GetParam())));

    QStringList asked;
    CModalAnswerer answers(
        {acceptReview, [&asked](QDialog* dialog) { return answerWithDefault(dialog, asked); }});
    CAdminPage window{QString(), QStringList()};
    int published = 0;
    int disagreements = 0;
    for (int i = 0; i < count; ++i)
    {
        QString description;
        const QString custom = writeFile(QStringLiteral("custom/c%1.xml").arg(i),
                                         generated(random, rules, installer, description));
        SCOPED_TRACE(QStringLiteral("customization %1: %2").arg(i).arg(description).toStdString());
        const QString output = testPath(QStringLiteral("out/o%1").arg(i) + suffix);

        // The window: opened, then published to output.
        answers.clear();
        window.open(custom);
        ASSERT_EQ(custom, window.configurationFile().absoluteFilePath());
        answers.m_lFileAnswers = QStringList{output};
        window.publish();
        ASSERT_TRUE(waitFor([&] { return !window.isPublishing(); }, 120000));
        const bool windowPublished = answers.m_lTexts.contains(
            QStringLiteral("Tessary successfully generated the installation package."));
        EXPECT_EQ(windowPublished, QFileInfo::exists(output));

        // What the command line shows of the values is what the window's fields hold:
        // for every customization of the flat package, every fourth of the others.
        if (flat || i % 4 == 0)
        {
            const CCliRun shown = runCli({"show", custom, "--json"});
            ASSERT_EQ(0, shown.m_iStatus) << shown.m_sErr.toStdString();
            for (const QJsonValue& value : QJsonDocument::fromJson(shown.m_sOut.toUtf8())
                                               .object()
                                               .value("properties")
                                               .toArray())
            {
                const QJsonObject property = value.toObject();
                for (CXmlObject* field :
                     window.document().fieldsOf(property.value("property").toString()))
                {
                    if (field->name() != property.value("widget").toString())
                        continue;
                    const QString held = CSecretProperty::isSecret(field)
                                             ? CSecretProperty::shownValue(field->getValue())
                                             : field->getValue();
                    if (held != property.value("value").toString())
                    {
                        ++disagreements;
                        ADD_FAILURE() << "show " << field->property().toStdString() << ": "
                                      << property.value("value").toString().toStdString()
                                      << " / window: " << held.toStdString();
                    }
                }
            }
        }

        const QString fromWindow = output + ".window";
        if (windowPublished)
        {
            ASSERT_TRUE(QFile::rename(output, fromWindow));
        }
        // The command line, to the same path.
        const CCliRun run = runCli({"publish", custom, "--output", output});
        const bool cliPublished = run.m_iStatus == 0;
        if (cliPublished != windowPublished)
        {
            ++disagreements;
            ADD_FAILURE() << "window " << (windowPublished ? "published" : "did not publish")
                          << " (" << answers.m_lTexts.join(" | ").toStdString() << " "
                          << asked.join(" | ").toStdString() << "), tessary-cli exit "
                          << run.m_iStatus << ": " << run.m_sErr.toStdString();
        }
        else if (cliPublished)
        {
            ++published;
            if (contentsOf(fromWindow) != contentsOf(output))
            {
                ++disagreements;
                ADD_FAILURE() << "the outputs differ";
            }
        }
        asked.clear();
    }
    EXPECT_EQ(0, disagreements);
    // Most customizations are published; the rest are refused by both alike.
    EXPECT_GT(published, count / 4);
    std::cout << "published " << published << " of " << count << " customizations, "
              << disagreements << " disagreements\n";
}

INSTANTIATE_TEST_SUITE_P(Kinds, DifferentialTest,
                         ::testing::Values("TessarySample.pkg", "TessarySample.dmg",
                                           "TessarySample-bundle.pkg", "TessarySample.mpkg",
                                           "TessarySample.package"));
