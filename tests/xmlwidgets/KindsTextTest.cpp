// Text and number kinds: line edit, number edit, the control-character filter,
// text edit and spin box.

#include "FrameworkTestSupport.h"

#include "shared/XmlWidgets/LineEdit.h"
#include "shared/XmlWidgets/NoControlCharsValidator.h"
#include "shared/XmlWidgets/NumberEdit.h"
#include "shared/XmlWidgets/SpinBox.h"
#include "shared/XmlWidgets/TextEdit.h"

#include <QIntValidator>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using namespace FrameworkTest;

namespace
{
class KindsTextTest : public FrameworkFixture
{
};
} // namespace

TEST_F(KindsTextTest, ControlCharacterFilterRemovesBreaksAndKeepsTheCursor)
{
    NoControlCharsValidator validator;
    QString text = QStringLiteral("a\r\nb\tc\nd");
    int pos = 5; // after "a\r\nb\t"
    EXPECT_EQ(validator.validate(text, pos), QValidator::Acceptable);
    EXPECT_EQ(text, QStringLiteral("abcd"));
    EXPECT_EQ(pos, 2);
    QString clean = QStringLiteral("plain text");
    pos = 3;
    EXPECT_EQ(validator.validate(clean, pos), QValidator::Acceptable);
    EXPECT_EQ(clean, QStringLiteral("plain text"));
    EXPECT_EQ(pos, 3);
}

TEST_F(KindsTextTest, LineEditChangesRaiseBothSignalsAndActions)
{
    auto d =
        load(wrap(QStringLiteral("<lineedit name=\"e\" property=\"E\" default=\"start\">"
                                 "<action signal=\"textedited\" slot=\"setvalue\" widget=\"copy\"/>"
                                 "</lineedit>"
                                 "<lineedit name=\"copy\"/>"
                                 "<lineedit name=\"masked\" mask=\"99-99\"/>")));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* edit = d->find<CLineEdit>("e");
    auto* copy = d->find<CLineEdit>("copy");
    ASSERT_TRUE(edit && copy);
    EXPECT_EQ(edit->getValue(), QStringLiteral("start"));
    EXPECT_TRUE(d->root->m_lNotificationSources.isEmpty()); // defaults are not changes
    EXPECT_TRUE(dynamic_cast<const NoControlCharsValidator*>(edit->validator()));
    EXPECT_EQ(d->find<CLineEdit>("masked")->inputMask(), QStringLiteral("99-99"));
    EXPECT_EQ(d->find<CLineEdit>("masked")->validator(), nullptr);

    QSignalSpy edited(edit, &CLineEdit::textEdited);
    QSignalSpy changedSpy(edit, &CLineEdit::textChanged);
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("ab"));
    EXPECT_EQ(edit->getValue(), QStringLiteral("ab"));
    EXPECT_EQ(copy->getValue(), QStringLiteral("ab"));
    EXPECT_EQ(edited.count(), 3);
    EXPECT_EQ(changedSpy.count(), 3);
    EXPECT_EQ(d->root->m_lNotificationSources.count(edit), 3);

    edit->setValue(QStringLiteral("set"));
    EXPECT_EQ(copy->getValue(), QStringLiteral("set"));
    EXPECT_EQ(edited.count(), 4);
    EXPECT_TRUE(edit->performAction(QStringLiteral("clear"), nullptr));
    EXPECT_TRUE(edit->getValue().isEmpty());
    EXPECT_TRUE(edit->isEmpty());
    EXPECT_EQ(changedSpy.count(), 5);

    // Pasted line breaks and tabs vanish; letters are fine without a mask.
    edit->insert(QStringLiteral("line one\r\nline\ttwo"));
    EXPECT_EQ(edit->text(), QStringLiteral("line onelinetwo"));
}

TEST_F(KindsTextTest, NumberEditAcceptsOnlyIntegers)
{
    // A locale with group separators must not let them into the value.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    auto d = load(wrap(QStringLiteral("<numberedit name=\"n\">"
                                      "<action signal=\"textchanged\" slot=\"setvalue\" "
                                      "widget=\"copy\"/></numberedit>"
                                      "<lineedit name=\"copy\"/>"
                                      "<numberedit name=\"zip\" mask=\"99999\"/>")));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* number = d->find<CNumberEdit>("n");
    ASSERT_TRUE(number);
    ASSERT_TRUE(dynamic_cast<const QIntValidator*>(number->validator()));
    QTest::keyClicks(number, QStringLiteral("-12a3x"));
    EXPECT_EQ(number->getValue(), QStringLiteral("-123"));
    EXPECT_EQ(d->find<CLineEdit>("copy")->getValue(), QStringLiteral("-123"));
    number->clear();
    QTest::keyClicks(number, QStringLiteral("abc"));
    EXPECT_TRUE(number->getValue().isEmpty());
    QTest::keyClicks(number, QStringLiteral("1,234 5.6"));
    EXPECT_EQ(number->getValue(), QStringLiteral("123456"));

    // With a mask, the mask decides what may be typed.
    auto* zip = d->find<CNumberEdit>("zip");
    QTest::keyClicks(zip, QStringLiteral("12a345"));
    EXPECT_EQ(zip->getValue(), QStringLiteral("12345"));
}

TEST_F(KindsTextTest, TextEditInitialTextReadOnlyAndClear)
{
    // "SGVsbG8KV29ybGQ=" is "Hello\nWorld".
    auto d = load(wrap(QStringLiteral(
        "<textedit name=\"b64\" title=\"ignored\" readonly=\"T\">SGVsbG8KV29ybGQ=</textedit>"
        "<textedit name=\"titled\" title=\"From title\" readonly=\"f\"/>"
        "<textedit name=\"defaulted\" title=\"From title\" default=\"From default\"/>")));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* b64 = d->find<CTextEdit>("b64");
    auto* titled = d->find<CTextEdit>("titled");
    ASSERT_TRUE(b64 && titled);
    EXPECT_EQ(b64->getValue(), QStringLiteral("Hello\nWorld"));
    EXPECT_TRUE(b64->isReadOnly());
    EXPECT_EQ(titled->getValue(), QStringLiteral("From title"));
    EXPECT_FALSE(titled->isReadOnly());
    EXPECT_EQ(d->find("defaulted")->getValue(), QStringLiteral("From default"));
    EXPECT_TRUE(d->root->m_lNotificationSources.isEmpty());

    QTest::keyClicks(titled, QStringLiteral("!"));
    EXPECT_EQ(d->root->m_lNotificationSources.count(titled), 1);
    titled->setValue(QStringLiteral("a\nb"));
    EXPECT_EQ(titled->getValue(), QStringLiteral("a\nb"));
    EXPECT_EQ(d->root->m_lNotificationSources.count(titled), 2);
    EXPECT_TRUE(titled->performAction(QStringLiteral("clear"), nullptr));
    EXPECT_TRUE(titled->isEmpty());

    for (const char* value : {"true", "false", "yes"})
    {
        auto bad = load(wrap(
            QStringLiteral("<textedit name=\"t\" readonly=\"%1\"/>").arg(QLatin1String(value))));
        EXPECT_EQ(bad->parseResult, 1) << value;
        EXPECT_EQ(bad->error,
                  QStringLiteral("Incorrect value for \"readonly\" attribute in object \"t\": %1")
                      .arg(QLatin1String(value)));
    }
}

TEST_F(KindsTextTest, SpinBoxRangeStepAffixesAndValues)
{
    auto d = load(wrap(QStringLiteral("<spinbox name=\"s\" minimum=\"-5\" maximum=\"20\" "
                                      "step=\"5\" prefix=\"$\" suffix=\" units\" default=\"7\"/>"
                                      "<spinbox name=\"bare\" minimum=\"0\" maximum=\"3\"/>")));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* spin = d->find<CSpinBox>("s");
    ASSERT_TRUE(spin);
    EXPECT_EQ(spin->minimum(), -5);
    EXPECT_EQ(spin->maximum(), 20);
    EXPECT_EQ(spin->singleStep(), 5);
    EXPECT_EQ(spin->prefix(), QStringLiteral("$"));
    EXPECT_EQ(spin->suffix(), QStringLiteral(" units"));
    EXPECT_EQ(spin->getValue(), QStringLiteral("7"));
    EXPECT_EQ(d->find<CSpinBox>("bare")->singleStep(), 1);
    EXPECT_TRUE(d->find<CSpinBox>("bare")->prefix().isEmpty());

    spin->setValue(QStringLiteral("0x10"));
    spin->setValue(QStringLiteral("12.5"));
    spin->setValue(QStringLiteral("ten"));
    EXPECT_EQ(spin->getValue(), QStringLiteral("7"));
    EXPECT_TRUE(d->root->m_lNotificationSources.isEmpty());
    spin->setValue(QStringLiteral("-3"));
    EXPECT_EQ(spin->getValue(), QStringLiteral("-3"));
    spin->setValue(QStringLiteral("99")); // clamped to the range
    EXPECT_EQ(spin->getValue(), QStringLiteral("20"));
    EXPECT_EQ(d->root->m_lNotificationSources.count(spin), 2);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->getValue(), QStringLiteral("15"));
    EXPECT_EQ(d->root->m_lNotificationSources.count(spin), 3);

    const struct
    {
        const char* body;
        const char* error;
    } failures[] = {
        {"<spinbox name=\"x\" maximum=\"1\"/>", "Missing minimum attribute in spinbox"},
        {"<spinbox name=\"x\" minimum=\"1\"/>", "Missing maximum attribute in spinbox"},
        {"<spinbox name=\"x\" minimum=\"low\" maximum=\"1\"/>",
         "Incorrect value for \"minimum\" attribute in spinbox \"x\": low"},
        {"<spinbox name=\"x\" minimum=\"0\" maximum=\"1\" step=\"\"/>",
         "Incorrect value for \"step\" attribute in spinbox \"x\": "},
    };
    for (const auto& failure : failures)
    {
        auto bad = load(wrap(QString::fromUtf8(failure.body)));
        EXPECT_EQ(bad->parseResult, 1) << failure.body;
        EXPECT_EQ(bad->error, QString::fromUtf8(failure.error));
    }
}
