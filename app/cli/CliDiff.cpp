#include "CliDiff.h"

#include "CliDocument.h"
#include "app/document/CustomizationFile.h"
#include "app/document/DocumentRoot.h"
#include "app/document/Migration.h"
#include "app/document/SecretProperty.h"
#include "app/document/ShownText.h"
#include "app/packages/BoundedFile.h"
#include "app/packages/Package.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>
#include <climits>
#include <cstdio>

namespace
{
QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// What a secret is shown as: whether it has a value, never the value. The words
// stay untranslated, as the rest of a line that scripts and git read.
QString secretState(const CCliDiff::CValue& value)
{
    if (value.m_bOmitted)
        return QStringLiteral("left out");
    return value.m_sValue.isEmpty() ? QStringLiteral("not set") : QStringLiteral("set");
}

QString shownValue(const CCliDiff::CValue& value, bool secret)
{
    return secret ? QStringLiteral("(secret, ") + secretState(value) + QLatin1Char(')')
                  : CShownText::quoted(value.m_sValue);
}

QJsonValue jsonValue(const CCliDiff::CValue& value, bool present, bool secret)
{
    if (!present)
        return QJsonValue(QJsonValue::Null);
    return secret ? QJsonValue(secretState(value)) : QJsonValue(value.m_sValue);
}

QString changeName(CCliDiff::CChange::Kind kind)
{
    switch (kind)
    {
    case CCliDiff::CChange::Added:
        return QStringLiteral("added");
    case CCliDiff::CChange::Removed:
        return QStringLiteral("removed");
    case CCliDiff::CChange::Changed:
        break;
    }
    return QStringLiteral("changed");
}

QList<CCliDiff::CValue> valuesOf(const CCustomizationFile::CContents& contents)
{
    QList<CCliDiff::CValue> values;
    for (const CCustomizationFile::CEntry& entry : contents.m_lEntries)
    {
        CCliDiff::CValue value;
        value.m_sProperty = entry.m_sProperty;
        value.m_sWidget = entry.m_sWidget;
        value.m_sValue = entry.m_sValue;
        value.m_bOmitted = entry.m_bOmitted;
        value.m_bSecret = entry.m_bOmitted || CSecretProperty::nameLooksSecret(entry.m_sProperty);
        values << value;
    }
    return values;
}

enum ReadResult
{
    Read,
    Unreadable,       // missing, no regular file, too large
    NotCustomization, // some other text
    Damaged           // root AdminCustomization, but not well-formed
};

// Reads path as a customization; anything but Read comes with why in error.
ReadResult readContents(const QString& path, CCustomizationFile::CContents& contents,
                        QString& error)
{
    QByteArray bytes;
    QString reason;
    if (!CBoundedFile::read(path, CBoundedFile::kMaxDocumentBytes, bytes, &reason, true))
    {
        error = QFileInfo::exists(path) ? reason
                                        : CCliDiff::tr("\"%1\" does not exist.").arg(native(path));
        return Unreadable;
    }
    if (!CCustomizationFile::isCustomization(bytes))
    {
        error = CCliDiff::tr("\"%1\" is no customization (root element AdminCustomization).")
                    .arg(native(path));
        return NotCustomization;
    }
    if (!CCustomizationFile::read(bytes, contents, reason))
    {
        error = CCliDiff::tr("\"%1\" is a damaged customization: %2").arg(native(path), reason);
        return Damaged;
    }
    return Read;
}

// Copies the file to standard output as it is, in pieces: git shows a file that is no
// customization as its own text.
bool passThrough(const QString& path, QTextStream& out)
{
    out.flush();
    QFile input(path);
    QFile output;
    if (!input.open(QIODevice::ReadOnly) || !output.open(stdout, QIODevice::WriteOnly))
        return false;
    while (!input.atEnd())
    {
        const QByteArray piece = input.read(64 * 1024);
        if (piece.isEmpty() || output.write(piece) != piece.size())
            return false;
    }
    return output.flush();
}
} // namespace

CCliDiff::CCliDiff(QTextStream& out, QTextStream& err) : m_out(out), m_err(err) {}

QString CCliDiff::key(const QString& property, const QString& widget)
{
    return property + QChar(0x1f) + widget;
}

bool CCliDiff::parse(const QStringList& arguments, bool forValues, COptions& options,
                     QString& error) const
{
    for (int i = 0; i < arguments.size(); ++i)
    {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--"))
        {
            options.m_lPlain << arguments.mid(i + 1);
            break;
        }
        if (!argument.startsWith(QLatin1String("--")) || argument.size() == 2)
        {
            options.m_lPlain << argument;
            continue;
        }
        QString name = argument.mid(2);
        QString value;
        const int equals = name.indexOf(QLatin1Char('='));
        if (equals >= 0)
        {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        const bool flag =
            forValues ? name == QLatin1String("values") : name == QLatin1String("json");
        if (flag && equals < 0)
        {
            options.m_bJson = options.m_bJson || name == QLatin1String("json");
            continue;
        }
        const QStringList valued =
            forValues ? QStringList{QStringLiteral("installer"), QStringLiteral("option")}
                      : QStringList{QStringLiteral("to"), QStringLiteral("option")};
        if (!valued.contains(name))
        {
            error = tr("Unknown option \"%1\".").arg(CShownText::escaped(argument));
            return false;
        }
        if (equals < 0)
        {
            if (i + 1 >= arguments.size())
            {
                error = tr("The option \"--%1\" needs a value.").arg(name);
                return false;
            }
            value = arguments.at(++i);
        }
        if (name == QLatin1String("option"))
            options.m_lOptions << value.toLower();
        else if (name == QLatin1String("to"))
            options.m_sTo = value;
        else
            options.m_sInstaller = value;
    }
    if (forValues && options.m_lPlain.size() != 1)
    {
        error = tr("show --values needs one customization.");
        return false;
    }
    if (!forValues && (options.m_lPlain.isEmpty() || options.m_lPlain.size() > 2))
    {
        error = tr("diff needs one customization, or two.");
        return false;
    }
    if (!forValues && options.m_lPlain.size() == 2 && !options.m_sTo.isEmpty())
    {
        error = tr("diff compares with a second customization or with --to, not both.");
        return false;
    }
    return true;
}

int CCliDiff::fail(int status, const QString& message)
{
    m_err << QStringLiteral("tessary-cli: ") << message << '\n';
    m_err.flush();
    return status;
}

void CCliDiff::note(const QString& message)
{
    m_err << QStringLiteral("tessary-cli: note: ") << message << '\n';
    m_err.flush();
}

void CCliDiff::useDefinition(const CCliDocument& document, QList<CValue>& values,
                             QStringList& order)
{
    QHash<QString, bool> secret;
    for (const CXmlObject* field : document.document().root().installationProperties())
    {
        const QString fieldKey = key(field->property(), field->name());
        if (!secret.contains(fieldKey))
            order << fieldKey;
        secret[fieldKey] = secret.value(fieldKey) || CSecretProperty::isSecret(field);
    }
    for (CValue& value : values)
        value.m_bSecret = value.m_bSecret || secret.value(key(value.m_sProperty, value.m_sWidget));
}

QList<CCliDiff::CChange> CCliDiff::compare(const QList<CValue>& left, const QList<CValue>& right,
                                           const QStringList& order)
{
    struct CSlot
    {
        bool m_bLeft = false;
        bool m_bRight = false;
        CValue m_left;
        CValue m_right;
    };
    QHash<QString, CSlot> bySlot;
    QStringList keys;
    QHash<QString, QSet<QString>> widgets;
    // A value listed twice counts as the file is applied: the later one wins.
    auto add = [&](const QList<CValue>& values, bool isLeft)
    {
        for (const CValue& value : values)
        {
            const QString valueKey = key(value.m_sProperty, value.m_sWidget);
            if (!bySlot.contains(valueKey))
                keys << valueKey;
            CSlot& slot = bySlot[valueKey];
            (isLeft ? slot.m_bLeft : slot.m_bRight) = true;
            (isLeft ? slot.m_left : slot.m_right) = value;
            widgets[value.m_sProperty].insert(value.m_sWidget);
        }
    };
    add(left, true);
    add(right, false);

    QHash<QString, int> position;
    for (int i = 0; i < order.size(); ++i)
        position.insert(order.at(i), i);
    std::stable_sort(keys.begin(), keys.end(),
                     [&](const QString& a, const QString& b)
                     {
                         const int pa = position.value(a, INT_MAX);
                         const int pb = position.value(b, INT_MAX);
                         if (pa != pb)
                             return pa < pb;
                         return pa == INT_MAX && a < b;
                     });

    QList<CChange> changes;
    for (const QString& slotKey : qAsConst(keys))
    {
        const CSlot& slot = bySlot[slotKey];
        const CValue& any = slot.m_bLeft ? slot.m_left : slot.m_right;
        CChange change;
        change.m_sProperty = any.m_sProperty;
        change.m_sWidget = any.m_sWidget;
        change.m_from = slot.m_left;
        change.m_to = slot.m_right;
        change.m_bSecret = (slot.m_bLeft && slot.m_left.m_bSecret) ||
                           (slot.m_bRight && slot.m_right.m_bSecret) ||
                           CSecretProperty::nameLooksSecret(any.m_sProperty);
        change.m_sLabel = CShownText::escaped(any.m_sProperty);
        if (widgets.value(any.m_sProperty).size() > 1)
            change.m_sLabel +=
                QStringLiteral(" (") + CShownText::escaped(any.m_sWidget) + QLatin1Char(')');
        if (!slot.m_bLeft)
            change.m_kind = CChange::Added;
        else if (!slot.m_bRight)
            change.m_kind = CChange::Removed;
        else if (slot.m_left.m_bOmitted != slot.m_right.m_bOmitted ||
                 (!slot.m_left.m_bOmitted && slot.m_left.m_sValue != slot.m_right.m_sValue))
            change.m_kind = CChange::Changed;
        else
            continue; // the same (two left-out secrets have nothing to compare)
        changes << change;
    }
    return changes;
}

QString CCliDiff::text(const QList<CChange>& changes)
{
    QString text;
    for (const CChange& change : changes)
    {
        switch (change.m_kind)
        {
        case CChange::Added:
            text += QStringLiteral("+ ") + change.m_sLabel + QStringLiteral(": ") +
                    shownValue(change.m_to, change.m_bSecret);
            break;
        case CChange::Removed:
            text += QStringLiteral("- ") + change.m_sLabel + QStringLiteral(": ") +
                    shownValue(change.m_from, change.m_bSecret);
            break;
        case CChange::Changed:
            text += QStringLiteral("~ ") + change.m_sLabel + QStringLiteral(": ");
            // Two set secrets differ in a way that must not be shown.
            if (change.m_bSecret && secretState(change.m_from) == secretState(change.m_to))
                text += QStringLiteral("(secret, changed)");
            else
                text += shownValue(change.m_from, change.m_bSecret) + QStringLiteral(" -> ") +
                        shownValue(change.m_to, change.m_bSecret);
            break;
        }
        text += QLatin1Char('\n');
    }
    return text;
}

int CCliDiff::print(const QString& left, const QString& right, const QString& against,
                    const QList<CChange>& changes, bool json)
{
    if (json)
    {
        QJsonArray array;
        for (const CChange& change : changes)
            array.append(QJsonObject{
                {QStringLiteral("property"), change.m_sProperty},
                {QStringLiteral("widget"), change.m_sWidget},
                {QStringLiteral("change"), changeName(change.m_kind)},
                {QStringLiteral("from"),
                 jsonValue(change.m_from, change.m_kind != CChange::Added, change.m_bSecret)},
                {QStringLiteral("to"),
                 jsonValue(change.m_to, change.m_kind != CChange::Removed, change.m_bSecret)},
                {QStringLiteral("secret"), change.m_bSecret}});
        m_out << QString::fromUtf8(
            QJsonDocument(QJsonObject{{QStringLiteral("a"), QFileInfo(left).absoluteFilePath()},
                                      {QStringLiteral("b"), QFileInfo(right).absoluteFilePath()},
                                      {QStringLiteral("against"), against},
                                      {QStringLiteral("changes"), array}})
                .toJson(QJsonDocument::Indented));
    }
    else
    {
        m_out << text(changes);
    }
    m_out.flush();
    return changes.isEmpty() ? 0 : 1;
}

int CCliDiff::diff(const QStringList& arguments)
{
    COptions options;
    QString error;
    if (!parse(arguments, false, options, error))
        return fail(2, error);
    const QString a = options.m_lPlain.first();
    CCustomizationFile::CContents contents;
    if (readContents(a, contents, error) != Read)
        return fail(2, error);
    QList<CValue> left = valuesOf(contents);
    QStringList order;

    if (options.m_lPlain.size() == 2)
    {
        const QString b = options.m_lPlain.at(1);
        CCustomizationFile::CContents other;
        if (readContents(b, other, error) != Read)
            return fail(2, error);
        QList<CValue> right = valuesOf(other);
        // The installers, where they can be opened, give the definition's order and
        // the properties their definition marks secret; the files alone give neither.
        QStringList reasons;
        bool known = false;
        for (const QString& path : {b, a})
        {
            CCliDocument document;
            QString reason;
            if (!document.open(path, QString(), options.m_lOptions, reason))
            {
                reasons << reason;
                continue;
            }
            known = true;
            useDefinition(document, left, order);
            useDefinition(document, right, order);
        }
        if (!known)
            note(tr("%1 Properties are compared in name order, and only their names tell "
                    "which are secret.")
                     .arg(reasons.join(QLatin1Char(' '))));
        return print(a, b, QStringLiteral("customization"), compare(left, right, order),
                     options.m_bJson);
    }

    if (!options.m_sTo.isEmpty())
    {
        // What migrate would write, without writing it.
        CCliDocument previous;
        QString previousError;
        const bool previousOpened = previous.open(a, QString(), options.m_lOptions, previousError);
        CCliDocument next;
        if (!next.open(options.m_sTo, QString(), options.m_lOptions, error))
            return fail(2, error);
        if (next.hasCustomization() || !next.installer())
            return fail(2,
                        tr("--to needs an installer; \"%1\" is none.").arg(native(options.m_sTo)));
        if (!previousOpened)
            note(tr("The installer the customization was made for cannot be opened (%1); "
                    "changed defaults cannot be told.")
                     .arg(previousError));
        QHash<QString, bool> omitted;
        for (const CCustomizationFile::CEntry& entry : contents.m_lEntries)
            omitted[key(entry.m_sProperty, entry.m_sWidget)] = entry.m_bOmitted;
        left.clear();
        QList<CValue> right;
        const QList<CMigration::CItem> items = CMigration::migrate(
            contents, previousOpened ? &previous.document() : nullptr, next.document());
        for (const CMigration::CItem& item : items)
        {
            CValue value;
            value.m_sProperty = item.m_sProperty;
            value.m_sWidget = item.m_sWidget;
            value.m_bSecret = item.m_bSecret;
            // A left-out secret stays left out in what migrate writes.
            value.m_bOmitted = omitted.value(key(item.m_sProperty, item.m_sWidget));
            if (item.m_status != CMigration::Added)
            {
                value.m_sValue = item.m_sValue;
                left << value;
            }
            if (item.m_status != CMigration::Removed)
            {
                value.m_sValue = item.m_sNewValue;
                right << value;
            }
        }
        useDefinition(next, right, order);
        return print(a, options.m_sTo, QStringLiteral("migration"), compare(left, right, order),
                     options.m_bJson);
    }

    // Against the defaults of its installer: from each default to the customization's
    // value. A property it does not list keeps its default, so that is no difference.
    CCliDocument document;
    if (!document.open(a, QString(), options.m_lOptions, error))
        return fail(2, error);
    QList<CValue> defaults;
    for (const CXmlObject* field : document.document().root().installationProperties())
    {
        CValue value;
        value.m_sProperty = field->property();
        value.m_sWidget = field->name();
        value.m_sValue = document.document().defaults().defaultOf(field);
        value.m_bSecret = CSecretProperty::isSecret(field);
        defaults << value;
    }
    useDefinition(document, left, order);
    QList<CChange> changes = compare(defaults, left, order);
    changes.erase(std::remove_if(changes.begin(), changes.end(),
                                 [](const CChange& change)
                                 { return change.m_kind == CChange::Removed; }),
                  changes.end());
    return print(document.sourceFile().filePath(), a, QStringLiteral("defaults"), changes,
                 options.m_bJson);
}

int CCliDiff::values(const QStringList& arguments)
{
    COptions options;
    QString error;
    if (!parse(arguments, true, options, error))
        return fail(2, error);
    const QString path = options.m_lPlain.first();
    CCustomizationFile::CContents contents;
    const ReadResult result = readContents(path, contents, error);
    // git runs this on every file its attributes name: one that is no customization
    // (even one too large for any) is shown as it is, so its diff is still the text's.
    const bool largeFile = result == Unreadable && CBoundedFile::isRegularFile(path, true) &&
                           QFileInfo(path).size() > CBoundedFile::kMaxDocumentBytes;
    if (result == Unreadable && !largeFile)
        return fail(2, error);
    if (result != Read)
    {
        if (result == Damaged)
            note(error);
        if (!passThrough(path, m_out))
            return fail(2, tr("\"%1\" cannot be read.").arg(native(path)));
        return 0;
    }
    QList<CValue> values = valuesOf(contents);
    QStringList order;
    if (!options.m_sInstaller.isEmpty())
    {
        CCliDocument document;
        if (!document.open(path, options.m_sInstaller, options.m_lOptions, error))
            return fail(2, error);
        useDefinition(document, values, order);
    }
    m_out << QStringLiteral("# installer: ") << CShownText::quoted(contents.m_sSource) << '\n';
    if (!contents.m_sProductVersion.isEmpty())
        m_out << QStringLiteral("# version: ") << CShownText::quoted(contents.m_sProductVersion)
              << '\n';
    for (const CChange& change : compare(QList<CValue>(), values, order))
        m_out << change.m_sLabel << QStringLiteral(": ")
              << shownValue(change.m_to, change.m_bSecret) << '\n';
    m_out.flush();
    return 0;
}
