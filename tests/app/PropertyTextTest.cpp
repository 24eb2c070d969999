#include "app/document/PropertyText.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{
// Values that break naive quoting in one language or the other.
const CPropertyText::Properties& awkwardValues()
{
    static const CPropertyText::Properties values{
        {QStringLiteral("EMPTY"), QString()},
        {QStringLiteral("QUOTES"), QStringLiteral("it's \"quoted\" ''")},
        {QStringLiteral("BACKSLASH"), QStringLiteral("a\\\"b\\\\c\\")},
        {QStringLiteral("DOLLAR"), QStringLiteral("$HOME ${PATH} `id` $(id) !1")},
        {QStringLiteral("SPACES"), QStringLiteral("  two  spaces\tand tab ")},
        {QStringLiteral("UNICODE"), QStringLiteral("Grüße, 東京 \U0001F600")},
        {QStringLiteral("LINES"), QStringLiteral("one\ntwo\r\nthree\u2028four\u2029five")},
        {QStringLiteral("MARKUP"), QStringLiteral("</script><![CDATA[ & ]]> &amp; <b>")},
        {QStringLiteral("CONTROL"), QStringLiteral("bell\abackspace\b")},
    };
    return values;
}

QByteArray run(const QString& program, const QStringList& arguments)
{
    std::vector<std::string> lArguments;
    for (const QString& argument : arguments)
        lArguments.push_back(QFile::encodeName(argument).toStdString());
    const TestSupport::ProgramResult result =
        TestSupport::runProgram(program.toStdString(), lArguments);
    EXPECT_EQ(0, result.status) << program.toStdString() << ": " << result.err;
    return QByteArray::fromStdString(result.out);
}

QString writeText(const QTemporaryDir& dir, const QString& name, const QString& text)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
    return path;
}
} // namespace

TEST(PropertyTextTest, BashSourcesExactlyTheValues)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString text = CPropertyText::shellText(awkwardValues());
    EXPECT_TRUE(text.startsWith("export EMPTY=''\nexport QUOTES='it'\"'\"'s \"quoted\" "));
    const QString path = writeText(dir, "properties", text);

    // env -0 shows what the sourced file exported, byte for byte.
    const QByteArray output = run(QStringLiteral("bash"),
                                  {QStringLiteral("-c"), QStringLiteral("source \"$1\" && env -0"),
                                   QStringLiteral("bash"), path});
    QMap<QString, QString> exported;
    for (const QByteArray& entry : output.split('\0'))
    {
        const int equals = entry.indexOf('=');
        if (equals > 0)
            exported.insert(QString::fromUtf8(entry.left(equals)),
                            QString::fromUtf8(entry.mid(equals + 1)));
    }
    for (const auto& property : awkwardValues())
        EXPECT_EQ(property.second.toStdString(), exported.value(property.first).toStdString())
            << property.first.toStdString();
}

TEST(PropertyTextTest, NodeReadsBackValuesAndNamesInsideAnXmlScript)
{
    CPropertyText::Properties properties = awkwardValues();
    properties.append({QStringLiteral("name \"with\" <markup>\n"), QStringLiteral("x")});
    const QString script = CPropertyText::javaScriptText(properties);
    EXPECT_TRUE(script.startsWith("var ts_properties = new Array();\n"));
    EXPECT_TRUE(script.contains("ts_properties[\"BACKSLASH\"] = \"a\\\\\\\"b"));
    // Nothing in the block can end the script element or the line it stands on.
    for (const QString& line : script.split('\n', Qt::SkipEmptyParts))
    {
        EXPECT_FALSE(line.contains('<') || line.contains('>') || line.contains('&') ||
                     line.contains('\r') || line.contains(QChar(0x2028)))
            << line.toStdString();
    }

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = writeText(dir, "script.js", script);
    const QByteArray output = run(
        QStringLiteral("node"),
        {QStringLiteral("-e"),
         QStringLiteral("const fs = require('fs'); const vm = require('vm');"
                        "const context = {}; vm.runInNewContext(fs.readFileSync(process.argv[1], "
                        "'utf8'), context);"
                        "process.stdout.write(JSON.stringify(Object.assign({}, "
                        "context.ts_properties)));"),
         path});
    const QJsonObject values = QJsonDocument::fromJson(output).object();
    EXPECT_EQ(properties.size(), values.size()) << output.toStdString();
    for (const auto& property : properties)
        EXPECT_EQ(property.second.toStdString(),
                  values.value(property.first).toString().toStdString())
            << property.first.toStdString();
}

TEST(PropertyTextTest, OnlyShellNamesReachTheShellText)
{
    const CPropertyText::Properties properties{
        {QStringLiteral("GOOD_1"), QStringLiteral("1")},
        {QStringLiteral("1BAD"), QStringLiteral("x")},
        {QStringLiteral("BAD;rm -rf /"), QStringLiteral("x")},
        {QStringLiteral("_ok"), QStringLiteral("2")},
        {QStringLiteral("BÄD"), QStringLiteral("x")},
        {QStringLiteral("1BAD"), QStringLiteral("y")},
    };
    EXPECT_EQ(QStringLiteral("export GOOD_1='1'\nexport _ok='2'\n"),
              CPropertyText::shellText(properties));
    EXPECT_EQ(QStringList({"1BAD", "BAD;rm -rf /", "BÄD"}),
              CPropertyText::invalidShellNames(properties));
    EXPECT_TRUE(CPropertyText::shellText({}).isEmpty());
    EXPECT_EQ(QStringLiteral("var ts_properties = new Array();\n"),
              CPropertyText::javaScriptText({}));
    EXPECT_FALSE(CPropertyText::isPublished("$PKG_Uninstaller"));
    EXPECT_FALSE(CPropertyText::isPublished("$AI_Notes"));
    EXPECT_TRUE(CPropertyText::isPublished("$pkg_lower"));
}
