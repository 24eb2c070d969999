#include "CliTool.h"

#include "app/packages/OutputFile.h"

#include "CliDiff.h"
#include "CliDocument.h"
#include "CliSecrets.h"
#include "app/document/DocumentRoot.h"
#include "app/document/HeadlessRoot.h"
#include "app/document/Migration.h"
#include "app/document/Publisher.h"
#include "app/document/SecretProperty.h"
#include "app/document/ShownText.h"
#include "app/packages/CopyFileThread.h"
#include "app/packages/PackageSignature.h"
#include "app/packages/PackagerThread.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include "app/packages/MacFlatPackage.h"
#include "app/packages/Package.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// What show prints of a secret value: whether there is one, never the value.
QString secretState(const QString& value)
{
    return value.isEmpty() ? QStringLiteral("not set") : QStringLiteral("set");
}

QString pageName(const CXmlObject* field)
{
    const CXmlObject* const page = CDocument::pageOf(field);
    return page ? page->name() : QString();
}

// Included when publishing: a value, or allowed to be empty, and a name that is
// handed on ("$PKG_" and "$AI_" names never are).
bool published(const CXmlObject* field)
{
    return (!field->getValue().isEmpty() || field->allowEmpty()) &&
           CPropertyText::isPublished(field->property());
}

QJsonObject propertyJson(const CXmlObject* field)
{
    const bool secret = CSecretProperty::isSecret(field);
    QJsonObject object{
        {QStringLiteral("property"), field->property()},
        {QStringLiteral("widget"), field->name()},
        {QStringLiteral("kind"), field->kind()},
        {QStringLiteral("page"), pageName(field)},
        {QStringLiteral("default"), !field->hasDefault() ? QJsonValue(QJsonValue::Null)
                                    : secret ? QJsonValue(secretState(field->getDefaultValue()))
                                             : QJsonValue(field->getDefaultValue())},
        {QStringLiteral("value"), secret ? secretState(field->getValue()) : field->getValue()},
        {QStringLiteral("secret"), secret},
        {QStringLiteral("allowEmpty"), field->allowEmpty()},
        {QStringLiteral("published"), published(field)}};
    const CValueRule rule = field->valueRule();
    if (!rule.m_lChoices.isEmpty())
        object.insert(QStringLiteral("choices"), QJsonArray::fromStringList(rule.m_lChoices));
    if (rule.m_bRange)
    {
        object.insert(QStringLiteral("minimum"), rule.m_iMinimum);
        object.insert(QStringLiteral("maximum"), rule.m_iMaximum);
    }
    if (!rule.m_sMask.isEmpty())
        object.insert(QStringLiteral("mask"), rule.m_sMask);
    return object;
}

// The pages of the document in the order of the definition.
QList<const CPage*> pagesOf(const CDocument& document)
{
    QList<const CPage*> pages;
    const CPageHolder* const holder = document.root().pageHolder();
    for (int i = 0; holder && i < holder->count(); ++i)
    {
        if (const CPage* page = qobject_cast<const CPage*>(holder->QStackedWidget::widget(i)))
            pages << page;
    }
    return pages;
}

// The installation properties in the order of the definition.
QList<CXmlObject*> fieldsInOrder(const CDocument& document)
{
    return document.root().installationProperties();
}

QString noteKind(const CDocument::CValueNote& note)
{
    switch (note.m_kind)
    {
    case CDocument::CValueNote::Adjusted:
        return QStringLiteral("adjusted");
    case CDocument::CValueNote::Refused:
        return QStringLiteral("refused");
    case CDocument::CValueNote::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QJsonArray notesJson(const QList<CDocument::CValueNote>& notes)
{
    QJsonArray array;
    for (const CDocument::CValueNote& note : notes)
    {
        QJsonObject object{{QStringLiteral("property"), note.m_sProperty},
                           {QStringLiteral("widget"), note.m_sWidget},
                           {QStringLiteral("kind"), noteKind(note)},
                           {QStringLiteral("reason"), note.m_sReason},
                           {QStringLiteral("text"), CDocument::noteText(note)}};
        if (!note.m_bSecret)
        {
            object.insert(QStringLiteral("value"), note.m_sValue);
            if (note.m_kind != CDocument::CValueNote::Unknown)
                object.insert(QStringLiteral("newValue"), note.m_sNewValue);
        }
        array.append(object);
    }
    return array;
}

QString signatureState(const CPackageSignature& signature)
{
    switch (signature.state())
    {
    case CPackageSignature::Unsigned:
        return QStringLiteral("unsigned");
    case CPackageSignature::Trusted:
        return QStringLiteral("trusted");
    case CPackageSignature::Untrusted:
        return QStringLiteral("untrusted");
    case CPackageSignature::Expired:
        return QStringLiteral("expired");
    case CPackageSignature::Invalid:
        return QStringLiteral("invalid");
    case CPackageSignature::Damaged:
        return QStringLiteral("damaged");
    case CPackageSignature::Unknown:
    case CPackageSignature::Identity:
        break;
    }
    return QStringLiteral("unknown");
}

QString signatureText(const CPackageSignature& signature)
{
    QString text = signature.summary();
    if (signature.verifies() && !signature.chain().isEmpty())
    {
        const CPackageSignature::Certificate& signer = signature.chain().first();
        text += QStringLiteral("; ") +
                CCliTool::tr("%1, issued by %2, valid from %3 to %4")
                    .arg(signer.name, signer.issuer, signer.validFrom, signer.expires);
    }
    if (!signature.problem().isEmpty())
        text += QStringLiteral(" (") + signature.problem() + QLatin1Char(')');
    return text;
}

QString shown(const QString& value)
{
    return CShownText::quoted(value);
}

QString listed(const QStringList& values)
{
    return values.isEmpty() ? CCliTool::tr("none named")
                            : CShownText::escaped(values.join(QStringLiteral(", ")));
}

QString timestampTime(const CPackageSignature::Timestamp& stamp)
{
    return stamp.time.isValid() ? stamp.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"))
                                : CCliTool::tr("unknown time");
}

// The signature's time stamp and every certificate of its chain, a line per fact, each
// text escaped: a name cannot start a line of its own.
QString chainText(const CPackageSignature& signature)
{
    QString text;
    const CPackageSignature::Timestamp& stamp = signature.timestamp();
    if (stamp.present)
    {
        text +=
            QStringLiteral("  ") +
            (stamp.trusted ? CCliTool::tr("Timestamp: %1, by %2 (trusted)")
                                 .arg(timestampTime(stamp), CShownText::escaped(stamp.authority))
                           : CCliTool::tr("Timestamp: %1, by %2 (not honoured: %3)")
                                 .arg(timestampTime(stamp), CShownText::escaped(stamp.authority),
                                      CShownText::escaped(stamp.problem))) +
            QLatin1Char('\n');
    }
    for (const QString& warning : signature.warnings())
        text += QStringLiteral("  ") +
                CCliTool::tr("Warning: %1").arg(CShownText::escaped(warning)) + QLatin1Char('\n');
    int number = 0;
    for (const CPackageSignature::Certificate& certificate : signature.chain())
    {
        const QString indent = QStringLiteral("    ");
        text += QStringLiteral("  ") +
                CCliTool::tr("Certificate %1: %2")
                    .arg(++number)
                    .arg(CShownText::escaped(certificate.name)) +
                QLatin1Char('\n');
        text += indent + CCliTool::tr("Subject: %1").arg(CShownText::escaped(certificate.subject)) +
                QLatin1Char('\n');
        text += indent +
                CCliTool::tr("Issuer: %1")
                    .arg(CShownText::escaped(certificate.issuerSubject.isEmpty()
                                                 ? certificate.issuer
                                                 : certificate.issuerSubject)) +
                QLatin1Char('\n');
        text += indent +
                CCliTool::tr("Valid from: %1 to %2")
                    .arg(CShownText::escaped(certificate.validFrom),
                         CShownText::escaped(certificate.expires)) +
                QLatin1Char('\n');
        text += indent + CCliTool::tr("Key usage: %1").arg(listed(certificate.keyUsage)) +
                QLatin1Char('\n');
        text += indent +
                CCliTool::tr("Extended key usage: %1").arg(listed(certificate.extendedKeyUsage)) +
                QLatin1Char('\n');
        if (!certificate.sha256.isEmpty())
            text += indent +
                    CCliTool::tr("SHA-256: %1").arg(CShownText::escaped(certificate.sha256)) +
                    QLatin1Char('\n');
    }
    return text;
}

QJsonObject signatureJson(const CPackageSignature& signature)
{
    QJsonArray chain;
    for (const CPackageSignature::Certificate& certificate : signature.chain())
        chain.append(QJsonObject{
            {QStringLiteral("name"), certificate.name},
            {QStringLiteral("issuer"), certificate.issuer},
            {QStringLiteral("validFrom"), certificate.validFrom},
            {QStringLiteral("expires"), certificate.expires},
            {QStringLiteral("subject"), certificate.subject},
            {QStringLiteral("issuerSubject"), certificate.issuerSubject},
            {QStringLiteral("keyUsage"), QJsonArray::fromStringList(certificate.keyUsage)},
            {QStringLiteral("extendedKeyUsage"),
             QJsonArray::fromStringList(certificate.extendedKeyUsage)},
            {QStringLiteral("sha256"), certificate.sha256}});
    QJsonObject object{
        {QStringLiteral("state"), signatureState(signature)},
        {QStringLiteral("verifies"), signature.verifies()},
        {QStringLiteral("summary"), signature.summary()},
        {QStringLiteral("problem"), signature.problem()},
        {QStringLiteral("warnings"), QJsonArray::fromStringList(signature.warnings())},
        {QStringLiteral("chain"), chain}};
    const CPackageSignature::Timestamp& stamp = signature.timestamp();
    if (stamp.present)
        object.insert(
            QStringLiteral("timestamp"),
            QJsonObject{{QStringLiteral("time"), stamp.time.isValid()
                                                     ? QJsonValue(stamp.time.toString(Qt::ISODate))
                                                     : QJsonValue(QJsonValue::Null)},
                        {QStringLiteral("authority"), stamp.authority},
                        {QStringLiteral("trusted"), stamp.trusted},
                        {QStringLiteral("problem"), stamp.problem}});
    return object;
}
} // namespace

volatile sig_atomic_t CCliTool::m_gInterrupted = 0;

CCliTool::CCliTool(QTextStream& out, QTextStream& err, QObject* parent)
    : QObject(parent), m_out(out), m_err(err)
{
}

QString CCliTool::usage()
{
    return tr("Usage: tessary-cli COMMAND [ARGUMENTS]\n"
              "\n"
              "Commands:\n"
              "  show INSTALLER|CUSTOMIZATION [--installer PATH] [--option NAME]... [--json]\n"
              "      The product, version and kind, the pages, and every installation\n"
              "      property with its default and current value.\n"
              "  publish CUSTOMIZATION|INSTALLER --output PATH [--installer PATH]\n"
              "          [--set NAME=VALUE]... [--secrets-file FILE] [--option NAME]...\n"
              "          [--timeout SECONDS] [--force] [--dry-run] [--json]\n"
              "          [--allow-insecure-secrets-file] [--sign-identity FILE.p12\n"
              "          [--timestamp-url URL]]\n"
              "      Writes the customized installer, as the window's Publish does: the\n"
              "      definition's \"validate\" checks run first, answered as check answers\n"
              "      them, and one that fails stops it (exit 1). Values of the\n"
              "      customization, of --set and of secrets meet the rules of their fields\n"
              "      as if typed: what a field changes (letter case, a number brought\n"
              "      within range) is said on standard error; a value a field does not\n"
              "      take stops it (exit 2).\n"
              "      Secret properties are set from FILE (NAME=VALUE lines) or from\n"
              "      TESSARY_SECRET_NAME (NAME upper-cased), never from --set; a secret\n"
              "      the customization was saved without and still missing stops it.\n"
              "      A secrets file, signing identity or password file that group or\n"
              "      others may read or write is refused unless\n"
              "      --allow-insecure-secrets-file is given.\n"
              "      An existing output (a link even: it is replaced, never written\n"
              "      through) is replaced only with --force, once the new one is\n"
              "      complete; a missing output folder is created. --dry-run runs every\n"
              "      check and names the output without writing it; --json reports the\n"
              "      output, kind, size, SHA-256, signature and warnings. A flat package is\n"
              "      signed with --sign-identity FILE.p12 [--sign-password-file FILE |\n"
              "      --sign-password-env VARIABLE] (else TESSARY_SIGN_PASSWORD), and with\n"
              "      --timestamp-url URL the signature carries a time stamp of that\n"
              "      authority (http:// or https://); an authority that fails stops it\n"
              "      (exit 1). Other installers cannot be signed (exit 2); a signed one\n"
              "      published without an identity loses its signature, which is said.\n"
              "  check CUSTOMIZATION|INSTALLER [--installer PATH] [--set NAME=VALUE]...\n"
              "        [--secrets-file FILE] [--option NAME]... [--timeout SECONDS] [--json]\n"
              "      Runs the checks a publish runs first (the definition's \"validate\"\n"
              "      actions, web checks included) without asking anyone: questions take\n"
              "      their default answer, messages go to standard error, programs and\n"
              "      file choosers are not run and fail the check. Exit 0 when every check\n"
              "      passes, 1 when one fails.\n"
              "  migrate CUSTOMIZATION --to NEW_INSTALLER --output NEW_CUSTOMIZATION\n"
              "          [--option NAME]... [--force] [--json]\n"
              "      Carries a customization forward to another release of its installer\n"
              "      and reports every property: kept, default changed upstream, removed\n"
              "      upstream, new upstream, or a value that no longer fits (and what it\n"
              "      became).\n"
              "  diff CUSTOMIZATION [OTHER_CUSTOMIZATION | --to NEW_INSTALLER]\n"
              "       [--option NAME]... [--json]\n"
              "      What differs between two customizations; with one, between its\n"
              "      installer's defaults and its values; with --to, between its values\n"
              "      and what migrate would carry them to (nothing is written). One line\n"
              "      per property: \"~ NAME: \"old\" -> \"new\"\", \"+ NAME: ...\" (only in\n"
              "      the second), \"- NAME: ...\" (only in the first); secrets only as\n"
              "      set, not set or changed. Exit 0 the same, 1 different, 2 error.\n"
              "  show --values CUSTOMIZATION [--installer PATH]\n"
              "      One line per saved value, in a stable order, for git's textconv\n"
              "      (see docs/pipelines.md); a file that is no customization is printed\n"
              "      as it is.\n"
              "\n"
              "  --installer PATH  the installer to use instead of the one the\n"
              "                    customization names\n"
              "  --option NAME     a start-up option of Tessary (e.g. diagnostics), for\n"
              "                    pages shown only with it\n"
              "  --help            this text\n"
              "  --version         the version of tessary-cli\n"
              "\n"
              "show, check and diff print secret values (tokens, passwords, keys) only\n"
              "as \"set\" or \"not set\".\n"
              "\n"
              "Exit status: 0 done, 1 failed (diff: different), 2 usage or input error\n"
              "(nothing written).\n");
}

QString CCliTool::COptions::value(const QString& name) const
{
    const QStringList all = values(name);
    return all.isEmpty() ? QString() : all.last();
}

QStringList CCliTool::COptions::values(const QString& name) const
{
    QStringList result;
    for (const auto& pair : m_lValues)
    {
        if (pair.first == name)
            result << pair.second;
    }
    return result;
}

bool CCliTool::parse(const QStringList& arguments, const QStringList& flags,
                     const QStringList& valued, const QString& oneFile, COptions& options,
                     QString& error) const
{
    for (int i = 0; i < arguments.size(); ++i)
    {
        QString argument = arguments.at(i);
        if (argument == QLatin1String("--"))
        {
            options.m_lPlain << arguments.mid(i + 1);
            break;
        }
        if (!argument.startsWith(QLatin1String("--")))
        {
            options.m_lPlain << argument;
            continue;
        }
        QString name = argument.mid(2);
        QString value;
        const int equals = name.indexOf(QLatin1Char('='));
        const bool inlineValue = equals >= 0;
        if (inlineValue)
        {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (flags.contains(name) && !inlineValue)
        {
            options.m_lFlags << name;
            continue;
        }
        if (!valued.contains(name))
        {
            error = tr("Unknown option \"%1\".").arg(argument);
            return false;
        }
        if (!inlineValue)
        {
            if (i + 1 >= arguments.size())
            {
                error = tr("The option \"--%1\" needs a value.").arg(name);
                return false;
            }
            value = arguments.at(++i);
        }
        options.m_lValues.append(qMakePair(name, value));
    }
    if (options.m_lPlain.size() != 1)
    {
        error = oneFile;
        return false;
    }
    return true;
}

int CCliTool::fail(int status, const QString& message)
{
    m_err << QStringLiteral("tessary-cli: ") << message << '\n';
    m_err.flush();
    return status;
}

bool CCliTool::interrupted()
{
    if (!m_gInterrupted)
        return false;
    fail(Failure, tr("Interrupted; nothing was written."));
    return true;
}

int CCliTool::run(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return fail(UsageError, tr("No command given.") + QLatin1Char('\n') + usage());
    const QString command = arguments.first();
    if (command == QLatin1String("--version"))
    {
        m_out << QStringLiteral("tessary-cli " TESSARY_VERSION_STRING) << '\n';
        m_out.flush();
        return Success;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help") || arguments.contains(QStringLiteral("--help")))
    {
        m_out << usage();
        m_out.flush();
        return Success;
    }
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("show") && rest.contains(QStringLiteral("--values")))
        return CCliDiff(m_out, m_err).values(rest);
    if (command == QLatin1String("show"))
        return show(rest);
    if (command == QLatin1String("diff"))
        return CCliDiff(m_out, m_err).diff(rest);
    if (command == QLatin1String("publish"))
        return publish(rest);
    if (command == QLatin1String("check"))
        return check(rest);
    if (command == QLatin1String("migrate"))
        return migrate(rest);
    return fail(UsageError,
                tr("Unknown command \"%1\".").arg(command) + QLatin1Char('\n') + usage());
}

bool CCliTool::applySettings(CCliDocument& document, const QStringList& settings,
                             QStringList& warnings, QString& error)
{
    for (const QString& setting : settings)
    {
        const int equals = setting.indexOf(QLatin1Char('='));
        if (equals <= 0)
        {
            error = tr("\"--set %1\" is not NAME=VALUE.").arg(CShownText::quoted(setting));
            return false;
        }
        const QString name = setting.left(equals);
        const QString value = setting.mid(equals + 1);
        const QList<CXmlObject*> found = document.document().fieldsOf(name);
        if (found.isEmpty())
        {
            error = tr("The installer has no property \"%1\".").arg(CShownText::escaped(name));
            return false;
        }
        for (const CXmlObject* field : found)
        {
            if (CSecretProperty::isSecret(field))
            {
                error = tr("\"%1\" is a secret and cannot be given with --set, where others "
                           "could read it: set the environment variable %2 or give it in "
                           "--secrets-file.")
                            .arg(name, CCliSecrets::variableName(name));
                return false;
            }
        }
        // The field takes the value as it would take it typed.
        QString reason;
        QString held;
        switch (document.document().offerProperty(name, value, &reason, &held))
        {
        case CXmlObject::ValueRefused:
            error = tr("The value %1 for \"%2\" %3.").arg(shown(value), name, reason);
            return false;
        case CXmlObject::ValueAdjusted:
            warnings << tr("--set %1: the value %2 %3; it is now %4.")
                            .arg(name, shown(value), reason, shown(held));
            break;
        case CXmlObject::ValueTaken:
            break;
        }
    }
    return true;
}

bool CCliTool::openDocument(const COptions& options, CCliDocument& document, QString& error)
{
    QStringList flags;
    for (const QString& option : options.values(QStringLiteral("option")))
        flags << option.toLower();
    return document.open(options.m_lPlain.first(), options.value(QStringLiteral("installer")),
                         flags, error);
}

bool CCliTool::applyValues(const COptions& options, CCliDocument& document, CCliSecrets& secrets,
                           QStringList& warnings, QString& error)
{
    if (!applySettings(document, options.values(QStringLiteral("set")), warnings, error))
        return false;
    const QString secretsFile = options.value(QStringLiteral("secrets-file"));
    if ((!secretsFile.isEmpty() && !secrets.readFile(secretsFile, error,
                                                     options.m_lFlags.contains(QStringLiteral(
                                                         "allow-insecure-secrets-file")))) ||
        !secrets.fill(document.document(), error))
        return false;
    warnings << secrets.warnings() << secrets.adjusted();
    return true;
}

bool CCliTool::reportNotes(const CCliDocument& document, bool refusedStop, QStringList& warnings,
                           QString& error)
{
    QStringList refused;
    for (const CDocument::CValueNote& note : document.notes())
    {
        if (note.m_kind == CDocument::CValueNote::Refused)
            refused << CDocument::noteText(note);
        else
            warnings << CDocument::noteText(note);
    }
    if (refused.isEmpty() || !refusedStop)
    {
        warnings << refused;
        return true;
    }
    error = tr("The customization gives values that their fields do not take; the installer "
               "would not get what was meant. Nothing was written.\n%1")
                .arg(refused.join(QLatin1Char('\n')));
    return false;
}

int CCliTool::openWithValues(const COptions& options, CCliDocument& document, CCliSecrets& secrets)
{
    QString error;
    if (!openDocument(options, document, error))
        return fail(UsageError, error);
    if (interrupted())
        return Failure;
    // Values a field refuses are never published; what a field changed is said. A
    // customization saved without its secrets gets them back: installers need them.
    QStringList warnings;
    const bool applied = reportNotes(document, true, warnings, error) &&
                         applyValues(options, document, secrets, warnings, error);
    warn(warnings);
    return applied ? Success : fail(UsageError, error);
}

void CCliTool::warn(const QStringList& warnings)
{
    for (const QString& warning : warnings)
        m_err << QStringLiteral("tessary-cli: warning: ") << warning << '\n';
    m_err.flush();
    m_lWarned << warnings;
}

int CCliTool::show(const QStringList& arguments)
{
    COptions options;
    QString error;
    if (!parse(arguments, {QStringLiteral("json")},
               {QStringLiteral("installer"), QStringLiteral("option")},
               tr("show needs one installer or customization."), options, error))
        return fail(UsageError, error);
    CCliDocument document;
    if (!openDocument(options, document, error))
        return fail(UsageError, error);
    if (interrupted())
        return Failure;
    // What the fields made of the customization is said; show itself writes nothing.
    QStringList warnings;
    reportNotes(document, false, warnings, error);
    warn(warnings);

    CPackage* const installer = document.installer();
    const QString product = installer ? installer->product() : QString();
    const QString version =
        installer ? QString::fromStdWString(installer->version().toString()) : QString();
    const CDocument& doc = document.document();
    // A flat package may carry a signature; it is shown as the system reports it.
    const bool flat = installer && document.kind() == QLatin1String("flat package");
    const CPackageSignature signature =
        flat ? CPackageSignature::check(document.sourceFile().absoluteFilePath())
             : CPackageSignature();
    if (options.m_lFlags.contains(QStringLiteral("json")))
    {
        QJsonArray pages;
        for (const CPage* page : pagesOf(doc))
            pages.append(QJsonObject{{QStringLiteral("name"), page->name()},
                                     {QStringLiteral("title"), page->windowTitle()}});
        QJsonArray properties;
        for (const CXmlObject* field : fieldsInOrder(doc))
            properties.append(propertyJson(field));
        QJsonObject root{{QStringLiteral("product"), product},
                         {QStringLiteral("version"), version},
                         {QStringLiteral("kind"), document.kind()},
                         {QStringLiteral("title"), doc.root().documentTitle()},
                         {QStringLiteral("installer"), document.sourceFile().absoluteFilePath()},
                         {QStringLiteral("pages"), pages},
                         {QStringLiteral("properties"), properties},
                         {QStringLiteral("notes"), notesJson(document.notes())}};
        if (!document.customizationFile().filePath().isEmpty())
            root.insert(QStringLiteral("customization"),
                        document.customizationFile().absoluteFilePath());
        if (flat)
            root.insert(QStringLiteral("signature"), signatureJson(signature));
        m_out << QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
        m_out.flush();
        return Success;
    }
    m_out << tr("Product: %1").arg(product) << '\n'
          << tr("Version: %1").arg(version) << '\n'
          << tr("Kind: %1").arg(document.kind()) << '\n'
          << tr("Installer: %1").arg(native(document.sourceFile().absoluteFilePath())) << '\n';
    if (flat)
        m_out << tr("Signature: %1").arg(CShownText::escaped(signatureText(signature))) << '\n'
              << chainText(signature);
    if (!document.customizationFile().filePath().isEmpty())
        m_out
            << tr("Customization: %1").arg(native(document.customizationFile().absoluteFilePath()))
            << '\n';
    m_out << '\n' << tr("Pages:") << '\n';
    for (const CPage* page : pagesOf(doc))
        m_out << QStringLiteral("  ") << CShownText::escaped(page->name()) << QStringLiteral("  ")
              << CShownText::escaped(page->windowTitle()) << '\n';
    m_out << '\n' << tr("Properties:") << '\n';
    for (const CXmlObject* field : fieldsInOrder(doc))
    {
        m_out << QStringLiteral("  ") << CShownText::escaped(field->property())
              << QStringLiteral(" (") << CShownText::escaped(field->name()) << QStringLiteral(", ")
              << field->kind();
        const QString page = pageName(field);
        if (!page.isEmpty())
            m_out << QStringLiteral(", ") << tr("page %1").arg(CShownText::escaped(page));
        const bool secret = CSecretProperty::isSecret(field);
        m_out << QStringLiteral(")\n      ")
              << tr("default: %1")
                     .arg(!field->hasDefault() ? tr("none")
                          : secret             ? secretState(field->getDefaultValue())
                                               : shown(field->getDefaultValue()))
              << QStringLiteral("  ")
              << tr("value: %1")
                     .arg(secret ? secretState(field->getValue()) : shown(field->getValue()));
        if (secret)
            m_out << QStringLiteral("  ") << tr("(secret)");
        if (!published(field))
            m_out << QStringLiteral("  ") << tr("(not published)");
        m_out << '\n';
    }
    m_out.flush();
    return Success;
}

void CCliTool::progress(qint64 current, qint64 total)
{
    // A bar for a person watching; logs of a pipeline stay clean.
    if (!::isatty(STDERR_FILENO))
        return;
    const int width = 40;
    QString bar;
    if (total <= 0)
    {
        static int turn = 0;
        bar = QStringLiteral("[") + QString(width, QLatin1Char(' ')) + QStringLiteral("]");
        bar[1 + (turn++ % width)] = QLatin1Char('#');
    }
    else
    {
        const int filled = int(qBound<qint64>(0, current * width / total, width));
        bar = QStringLiteral("[") + QString(filled, QLatin1Char('#')) +
              QString(width - filled, QLatin1Char(' ')) + QStringLiteral("] ") +
              QString::number(current * 100 / total) + QLatin1Char('%');
    }
    m_err << '\r' << bar;
    m_err.flush();
    m_bProgressShown = true;
}

bool CCliTool::signingIdentity(const COptions& options, CMacFlatPackage::Signing& signing,
                               QString& error)
{
    const QString identity = options.value(QStringLiteral("sign-identity"));
    const QString passwordFile = options.value(QStringLiteral("sign-password-file"));
    const QString passwordVariable = options.value(QStringLiteral("sign-password-env"));
    const QString timestampUrl = options.value(QStringLiteral("timestamp-url"));
    if (identity.isEmpty())
    {
        if (!timestampUrl.isEmpty())
        {
            error = tr("--timestamp-url stamps a signature, but no --sign-identity is given.");
            return false;
        }
        if (passwordFile.isEmpty() && passwordVariable.isEmpty())
            return true;
        error = tr("A signing password is given, but no --sign-identity.");
        return false;
    }
    // A key others may read is no longer the signer's alone, and one they may write is
    // theirs: both are refused, as ssh refuses such keys.
    const bool allowInsecure =
        options.m_lFlags.contains(QStringLiteral("allow-insecure-secrets-file"));
    for (const QString& path : {identity, passwordFile})
    {
        struct stat status;
        if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &status) != 0)
            continue;
        const QString mode = CCliSecrets::exposedMode(status.st_mode);
        if (mode.isEmpty())
            continue;
        const QString text = (path == identity ? tr("The signing identity \"%1\" can be read or "
                                                    "written by others (mode %2)")
                                               : tr("The password file \"%1\" can be read or "
                                                    "written by others (mode %2)"))
                                 .arg(native(path), mode);
        if (!allowInsecure)
        {
            error = text + tr("; make it its owner's alone (chmod 600), or pass "
                              "--allow-insecure-secrets-file.");
            return false;
        }
        warn({tr("%1; used as --allow-insecure-secrets-file asks.").arg(text)});
    }
    if (!timestampUrl.isEmpty())
    {
        error = CPackageSignature::timestampUrlProblem(timestampUrl);
        if (!error.isEmpty())
            return false;
    }
    // The password never travels on the command line, where others could read it.
    QString password;
    if (!passwordFile.isEmpty())
    {
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly))
        {
            error = tr("The password file \"%1\" cannot be read.").arg(native(passwordFile));
            return false;
        }
        // The first line; a password is short, a large file is none.
        password = QString::fromUtf8(file.read(4096).split('\n').first());
        if (password.endsWith(QLatin1Char('\r')))
            password.chop(1);
    }
    else
    {
        const QString variable =
            passwordVariable.isEmpty() ? QStringLiteral("TESSARY_SIGN_PASSWORD") : passwordVariable;
        password = qEnvironmentVariable(variable.toLocal8Bit().constData());
    }
    const CPackageSignature check = CPackageSignature::checkIdentity(identity, password);
    if (check.state() != CPackageSignature::Identity)
    {
        error = tr("This identity cannot sign: %1").arg(check.problem());
        return false;
    }
    // The authority is asked when the package is signed: one that fails then fails
    // the publish, and nothing is written.
    signing.identityFile = QFileInfo(identity).absoluteFilePath();
    signing.password = password;
    signing.timestampUrl = timestampUrl;
    return true;
}

int CCliTool::publish(const QStringList& arguments)
{
    COptions options;
    QString error;
    if (!parse(arguments,
               {QStringLiteral("force"), QStringLiteral("allow-insecure-secrets-file"),
                QStringLiteral("json"), QStringLiteral("dry-run")},
               {QStringLiteral("output"), QStringLiteral("installer"), QStringLiteral("set"),
                QStringLiteral("option"), QStringLiteral("sign-identity"),
                QStringLiteral("sign-password-file"), QStringLiteral("sign-password-env"),
                QStringLiteral("timestamp-url"), QStringLiteral("secrets-file"),
                QStringLiteral("timeout")},
               tr("publish needs one customization or installer."), options, error))
        return fail(UsageError, error);
    CMacFlatPackage::Signing signing;
    if (!signingIdentity(options, signing, error))
        return fail(UsageError, error);
    const QString output = options.value(QStringLiteral("output"));
    if (output.isEmpty())
        return fail(UsageError, tr("publish needs --output PATH."));
    int timeoutMs = 0;
    if (!checkTimeout(options, timeoutMs, error))
        return fail(UsageError, error);
    CCliDocument document;
    CCliSecrets secrets;
    if (const int status = openWithValues(options, document, secrets))
        return status;
    if (!secrets.missing().isEmpty())
    {
        QStringList variables;
        for (const QString& name : secrets.missing())
            variables << CCliSecrets::variableName(name);
        return fail(UsageError,
                    tr("The customization was saved without these secrets, and no value was "
                       "given for them: %1. Set %2 or give them in --secrets-file. Nothing "
                       "was written.")
                        .arg(secrets.missing().join(QStringLiteral(", ")),
                             variables.join(QStringLiteral(", "))));
    }
    CDocument& doc = document.document();
    const QString refusal = doc.publishRefusal();
    if (!refusal.isEmpty())
        return fail(UsageError, refusal);
    // The checks a publish runs in the window run here too, answered as check
    // answers them; one that fails stops the publish.
    if (CHeadlessRoot* const root = doc.headlessRoot())
        root->setTimeoutMs(timeoutMs);
    if (!doc.runChecks())
    {
        m_err << checkText(reportedChecks(*doc.headlessRoot(), doc), true);
        return fail(Failure, tr("A check failed; nothing was written."));
    }
    if (interrupted())
        return Failure;
    // Any change breaks a signature: a signed installer published without an
    // identity is said, as the window says it.
    const QString source = document.sourceFile().absoluteFilePath();
    if (signing.identityFile.isEmpty() && CMacFlatPackage::isFlatPackage(source) &&
        CPackageSignature::check(source).present())
        warn({CPackageSignature::unsignedCopyWarning()});

    CCopyFileThread worker;
    CPackagerThread packager;
    CPublisher publisher(worker, packager);
    publisher.setInterruptCheck([] { return m_gInterrupted != 0; });
    connect(&publisher, &CPublisher::progress, this, &CCliTool::progress);
    worker.start();
    CPublisher::CRequest request;
    request.m_pPackage = document.installer();
    request.m_source = document.sourceFile();
    request.m_sOutput = output;
    request.m_lEntries = doc.entries(false);
    request.m_lSetEntries = doc.entries(true);
    request.m_bOverwrite = options.m_lFlags.contains(QStringLiteral("force"));
    request.m_signing = signing;
    request.m_bDryRun = options.m_lFlags.contains(QStringLiteral("dry-run"));
    QString message;
    QString written;
    const bool published = publisher.publish(request, message, written);
    worker.stop();
    worker.wait();
    publisher.removeLeftovers();
    if (m_bProgressShown)
    {
        m_err << '\n';
        m_err.flush();
    }
    if (!published)
    {
        // Refusals before anything was written are input errors.
        return fail(publisher.refused() ? UsageError : Failure, message);
    }
    if (options.m_lFlags.contains(QStringLiteral("json")))
        m_out << QString::fromUtf8(
            QJsonDocument(publishReport(written, document.kind(), request.m_bDryRun,
                                        !signing.identityFile.isEmpty()))
                .toJson(QJsonDocument::Indented));
    else if (request.m_bDryRun)
        m_out
            << tr("Every check passed; would write %1 (nothing was written).").arg(native(written))
            << '\n';
    else
        m_out << tr("Published %1").arg(native(written)) << '\n';
    m_out.flush();
    return Success;
}

QJsonObject CCliTool::publishReport(const QString& written, const QString& kind, bool dryRun,
                                    bool signedOutput) const
{
    QJsonObject report{{QStringLiteral("output"), written},
                       {QStringLiteral("kind"), kind},
                       {QStringLiteral("dryRun"), dryRun},
                       {QStringLiteral("warnings"), QJsonArray::fromStringList(m_lWarned)}};
    if (dryRun)
        return report;
    const QFileInfo file(written);
    if (file.isFile())
    {
        QFile bytes(written);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (bytes.open(QIODevice::ReadOnly) && hash.addData(&bytes))
            report.insert(QStringLiteral("sha256"), QString::fromLatin1(hash.result().toHex()));
        report.insert(QStringLiteral("size"), file.size());
    }
    else
    {
        // A bundle is a folder: its size is that of its files, and it has no one digest.
        qint64 size = 0;
        int files = 0;
        QDirIterator it(written, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
        {
            it.next();
            if (!it.fileInfo().isSymLink())
                size += it.fileInfo().size();
            ++files;
        }
        report.insert(QStringLiteral("size"), size);
        report.insert(QStringLiteral("files"), files);
    }
    if (CMacFlatPackage::isFlatPackage(written))
    {
        // What the package carries now, as a computer receiving it would check it.
        const CPackageSignature signature = CPackageSignature::check(written);
        QJsonObject shownSignature{{QStringLiteral("signed"), signedOutput},
                                   {QStringLiteral("state"), signatureState(signature)},
                                   {QStringLiteral("summary"), signature.summary()}};
        if (!signature.chain().isEmpty())
            shownSignature.insert(QStringLiteral("signer"), signature.chain().first().name);
        report.insert(QStringLiteral("signature"), shownSignature);
    }
    return report;
}

bool CCliTool::checkTimeout(const COptions& options, int& timeoutMs, QString& error)
{
    timeoutMs = 30000;
    if (options.value(QStringLiteral("timeout")).isEmpty())
        return true;
    bool ok = false;
    const int seconds = options.value(QStringLiteral("timeout")).toInt(&ok);
    if (!ok || seconds < 1 || seconds > 3600)
    {
        error = tr("--timeout takes seconds from 1 to 3600.");
        return false;
    }
    timeoutMs = seconds * 1000;
    return true;
}

QList<CCheckReport::CCheck> CCliTool::reportedChecks(const CHeadlessRoot& root,
                                                     const CDocument& document)
{
    // A check may quote what a field holds (in a message or a web address): a
    // secret never reaches the output so.
    QStringList secretValues;
    const QMultiMap<QString, CXmlObject*> properties = document.collectProperties(false);
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
    {
        if (CSecretProperty::isSecret(it.value()) && !it.value()->getValue().isEmpty())
            secretValues << it.value()->getValue();
    }
    auto hide = [&secretValues](QString text)
    {
        for (const QString& value : qAsConst(secretValues))
            text.replace(value, QStringLiteral("(secret)"));
        return CShownText::escaped(text);
    };
    QList<CCheckReport::CCheck> reported = root.checkReport().m_lChecks;
    for (CCheckReport::CCheck& check : reported)
    {
        for (QString& message : check.m_lMessages)
            message = hide(message);
        for (CCheckReport::CUrl& url : check.m_lUrls)
        {
            url.m_sUrl = hide(url.m_sUrl);
            url.m_sReason = hide(url.m_sReason);
            url.m_sName = CShownText::escaped(url.m_sName);
        }
    }
    return reported;
}

QString CCliTool::checkText(const QList<CCheckReport::CCheck>& reported, bool withMessages)
{
    QString text;
    for (const CCheckReport::CCheck& check : reported)
    {
        for (const QString& message : check.m_lMessages)
        {
            if (withMessages)
                text += message + QLatin1Char('\n');
        }
    }
    for (const CCheckReport::CCheck& check : reported)
    {
        text +=
            (check.m_bPassed ? tr("passed") : tr("FAILED")) + QStringLiteral(": ") + check.m_sSlot;
        if (!check.m_sWidget.isEmpty())
            text += QLatin1Char(' ') + check.m_sWidget;
        text += QLatin1Char('\n');
        for (const CCheckReport::CUrl& url : check.m_lUrls)
        {
            text += QStringLiteral("    ") + (url.m_bPassed ? tr("ok") : tr("failed")) +
                    QStringLiteral("  ") + url.m_sName + QStringLiteral("  ") + url.m_sUrl;
            if (!url.m_sReason.isEmpty())
                text += QStringLiteral("  ") + url.m_sReason;
            text += QLatin1Char('\n');
        }
    }
    return text;
}

int CCliTool::check(const QStringList& arguments)
{
    COptions options;
    QString error;
    if (!parse(arguments, {QStringLiteral("json"), QStringLiteral("allow-insecure-secrets-file")},
               {QStringLiteral("installer"), QStringLiteral("set"), QStringLiteral("option"),
                QStringLiteral("timeout"), QStringLiteral("secrets-file")},
               tr("check needs one customization or installer."), options, error))
        return fail(UsageError, error);
    int timeoutMs = 0;
    if (!checkTimeout(options, timeoutMs, error))
        return fail(UsageError, error);
    // The checks see the secrets a publish would have; one still missing stays empty.
    CCliDocument document;
    CCliSecrets secrets;
    if (const int status = openWithValues(options, document, secrets))
        return status;

    CDocument& doc = document.document();
    CHeadlessRoot& root = *doc.headlessRoot();
    root.setTimeoutMs(timeoutMs);
    const bool passed = doc.runChecks();
    const QList<CCheckReport::CCheck> reported = reportedChecks(root, doc);
    for (const CCheckReport::CCheck& check : reported)
    {
        for (const QString& message : check.m_lMessages)
            m_err << message << '\n';
    }
    m_err.flush();
    if (options.m_lFlags.contains(QStringLiteral("json")))
    {
        QJsonArray checks;
        for (const CCheckReport::CCheck& check : reported)
        {
            QJsonArray urls;
            for (const CCheckReport::CUrl& url : check.m_lUrls)
                urls.append(QJsonObject{{QStringLiteral("name"), url.m_sName},
                                        {QStringLiteral("url"), url.m_sUrl},
                                        {QStringLiteral("passed"), url.m_bPassed},
                                        {QStringLiteral("reason"), url.m_sReason}});
            checks.append(QJsonObject{
                {QStringLiteral("slot"), check.m_sSlot},
                {QStringLiteral("widget"), check.m_sWidget},
                {QStringLiteral("passed"), check.m_bPassed},
                {QStringLiteral("messages"), QJsonArray::fromStringList(check.m_lMessages)},
                {QStringLiteral("urls"), urls}});
        }
        m_out << QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("passed"), passed},
                                                             {QStringLiteral("checks"), checks}})
                                       .toJson(QJsonDocument::Indented));
    }
    else
    {
        // The messages went to standard error above; the verdicts follow them.
        m_out << checkText(reported, false);
        m_out << (passed ? tr("All checks passed.") : tr("A check failed.")) << '\n';
    }
    m_out.flush();
    return passed ? Success : Failure;
}

int CCliTool::migrate(const QStringList& arguments)
{
    COptions options;
    QString error;
    if (!parse(arguments, {QStringLiteral("json"), QStringLiteral("force")},
               {QStringLiteral("to"), QStringLiteral("output"), QStringLiteral("option")},
               tr("migrate needs one customization."), options, error))
        return fail(UsageError, error);
    const QString to = options.value(QStringLiteral("to"));
    const QString output = options.value(QStringLiteral("output"));
    if (to.isEmpty() || output.isEmpty())
        return fail(UsageError, tr("migrate needs --to NEW_INSTALLER and --output PATH."));
    QStringList flags;
    for (const QString& option : options.values(QStringLiteral("option")))
        flags << option.toLower();

    // The release the customization was made for helps to tell changed defaults;
    // without its installer the values are carried over all the same.
    CCliDocument previous;
    QString previousError;
    const bool previousOpened =
        previous.open(options.m_lPlain.first(), QString(), flags, previousError);
    if (previous.customizationFile().filePath().isEmpty())
        return fail(UsageError,
                    previousError.isEmpty()
                        ? tr("\"%1\" is no customization.").arg(native(options.m_lPlain.first()))
                        : previousError);
    CCliDocument next;
    if (!next.open(to, QString(), flags, error))
        return fail(UsageError, error);
    if (interrupted())
        return Failure;
    if (!next.customizationFile().filePath().isEmpty() || !next.installer())
        return fail(UsageError, tr("--to needs an installer; \"%1\" is none.").arg(native(to)));
    // A link counts as there, dangling or not: it is replaced, never written through.
    const bool force = options.m_lFlags.contains(QStringLiteral("force"));
    if (COutputFile::present(output) && !force)
        return fail(UsageError,
                    tr("\"%1\" already exists. Use --force to replace it.").arg(native(output)));

    const CCustomizationFile::CContents& contents = previous.customization();
    const QList<CMigration::CItem> items = CMigration::migrate(
        contents, previousOpened ? &previous.document() : nullptr, next.document());
    QString reason;
    if (!CCustomizationFile::write(
            output, next.sourceFile(),
            contents.m_sLastSaveFile.isEmpty() ? QFileInfo() : QFileInfo(contents.m_sLastSaveFile),
            next.document().entries(false), nullptr, next.document().holdsSecretValues(), force,
            &reason))
    {
        if (COutputFile::present(output) && !force)
            return fail(
                UsageError,
                tr("\"%1\" already exists. Use --force to replace it.").arg(native(output)));
        return fail(Failure, tr("Tessary is unable to save \"%1\": %2. Nothing was written.")
                                 .arg(native(output), reason));
    }

    const QString fromVersion = contents.m_sProductVersion;
    const QString toVersion = QString::fromStdWString(next.installer()->version().toString());
    if (options.m_lFlags.contains(QStringLiteral("json")))
    {
        QJsonArray properties;
        for (const CMigration::CItem& item : items)
        {
            QJsonObject object{{QStringLiteral("property"), item.m_sProperty},
                               {QStringLiteral("widget"), item.m_sWidget},
                               {QStringLiteral("status"), CMigration::statusName(item.m_status)}};
            if (item.m_status != CMigration::Added)
                object.insert(QStringLiteral("value"), CMigration::shownValue(item, item.m_sValue));
            if (item.m_status != CMigration::Removed)
            {
                object.insert(QStringLiteral("newValue"),
                              CMigration::shownValue(item, item.m_sNewValue));
                object.insert(QStringLiteral("newDefault"),
                              CMigration::shownValue(item, item.m_sNewDefault));
            }
            if (item.m_status == CMigration::DefaultChanged)
                object.insert(QStringLiteral("oldDefault"),
                              CMigration::shownValue(item, item.m_sOldDefault));
            if (item.m_bSecret)
                object.insert(QStringLiteral("secret"), true);
            if (item.m_status == CMigration::Invalid)
                object.insert(QStringLiteral("reason"), item.m_sReason);
            properties.append(object);
        }
        m_out << QString::fromUtf8(
            QJsonDocument(
                QJsonObject{{QStringLiteral("fromVersion"), fromVersion},
                            {QStringLiteral("toVersion"), toVersion},
                            {QStringLiteral("previousInstallerFound"), previousOpened},
                            {QStringLiteral("output"), QFileInfo(output).absoluteFilePath()},
                            {QStringLiteral("properties"), properties}})
                .toJson(QJsonDocument::Indented));
    }
    else
    {
        m_out << tr("From version %1 to version %2").arg(fromVersion, toVersion) << '\n';
        if (!previousOpened)
            m_out << tr("The installer the customization was made for cannot be opened (%1); "
                        "changed defaults cannot be told.")
                         .arg(previousError)
                  << '\n';
        for (const CMigration::CItem& item : items)
            m_out << QStringLiteral("  ") << CMigration::describe(item) << '\n';
        m_out << tr("Written %1").arg(native(QFileInfo(output).absoluteFilePath())) << '\n';
    }
    m_out.flush();
    return Success;
}
