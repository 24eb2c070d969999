#include "CliTool.h"

#include "CliDocument.h"
#include "CliSecrets.h"
#include "ValidationRun.h"
#include "app/document/Migration.h"
#include "app/document/Publisher.h"
#include "app/packages/PackageSignature.h"

#include "app/packages/MacFlatPackage.h"
#include "app/packages/Package.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

QJsonObject propertyJson(const CDocumentProperty& property)
{
    const bool secret = property.isSecret();
    QJsonObject object{
        {QStringLiteral("property"), property.m_sProperty},
        {QStringLiteral("widget"), property.m_sName},
        {QStringLiteral("kind"), CDocumentProperty::kindName(property.m_kind)},
        {QStringLiteral("page"), property.m_sPage},
        {QStringLiteral("default"), !property.m_bHasDefault ? QJsonValue(QJsonValue::Null)
                                    : secret ? QJsonValue(secretState(property.m_sDefault))
                                             : QJsonValue(property.m_sDefault)},
        {QStringLiteral("value"), secret ? secretState(property.m_sValue) : property.m_sValue},
        {QStringLiteral("secret"), secret},
        {QStringLiteral("allowEmpty"), property.m_bAllowEmpty},
        {QStringLiteral("published"), property.isSet()}};
    if (!property.m_lChoices.isEmpty())
        object.insert(QStringLiteral("choices"), QJsonArray::fromStringList(property.m_lChoices));
    if (property.m_kind == CDocumentProperty::Spin)
    {
        object.insert(QStringLiteral("minimum"), property.m_iMinimum);
        object.insert(QStringLiteral("maximum"), property.m_iMaximum);
    }
    if (!property.m_sInputMask.isEmpty())
        object.insert(QStringLiteral("mask"), property.m_sInputMask);
    return object;
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

// A value for people: quoted, with line breaks shown as such.
QString shown(const QString& value)
{
    QString text = value;
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    text.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    return QLatin1Char('"') + text + QLatin1Char('"');
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
              "          [--force]\n"
              "      Writes the customized installer, as the window's Publish does.\n"
              "      Secret properties are set from FILE (NAME=VALUE lines) or from\n"
              "      TESSARY_SECRET_NAME (NAME upper-cased), never from --set; a secret\n"
              "      the customization was saved without and still missing stops it.\n"
              "      An existing output is replaced only with --force. A flat package is\n"
              "      signed with --sign-identity FILE.p12 [--sign-password-file FILE |\n"
              "      --sign-password-env VARIABLE] (else TESSARY_SIGN_PASSWORD).\n"
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
              "\n"
              "  --installer PATH  the installer to use instead of the one the\n"
              "                    customization names\n"
              "  --option NAME     a start-up option of Tessary (e.g. diagnostics), for\n"
              "                    pages shown only with it\n"
              "  --help            this text\n"
              "\n"
              "show and check print secret values (tokens, passwords, keys) only as\n"
              "\"set\" or \"not set\".\n"
              "\n"
              "Exit status: 0 done, 1 failed, 2 usage or input error (nothing written).\n");
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
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help") || arguments.contains(QStringLiteral("--help")))
    {
        m_out << usage();
        m_out.flush();
        return Success;
    }
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("show"))
        return show(rest);
    if (command == QLatin1String("publish"))
        return publish(rest);
    if (command == QLatin1String("check"))
        return check(rest);
    if (command == QLatin1String("migrate"))
        return migrate(rest);
    return fail(UsageError,
                tr("Unknown command \"%1\".").arg(command) + QLatin1Char('\n') + usage());
}

bool CCliTool::applySettings(CCliDocument& document, const QStringList& settings, QString& error)
{
    for (const QString& setting : settings)
    {
        const int equals = setting.indexOf(QLatin1Char('='));
        if (equals <= 0)
        {
            error = tr("\"--set %1\" is not NAME=VALUE.").arg(setting);
            return false;
        }
        const QString name = setting.left(equals);
        const QString value = setting.mid(equals + 1);
        const QList<CDocumentProperty*> found = document.document().findProperty(name);
        if (found.isEmpty())
        {
            error = tr("The installer has no property \"%1\".").arg(name);
            return false;
        }
        for (CDocumentProperty* property : found)
        {
            if (property->isSecret())
            {
                error = tr("\"%1\" is a secret and cannot be given with --set, where others "
                           "could read it: set the environment variable %2 or give it in "
                           "--secrets-file.")
                            .arg(name, CCliSecrets::variableName(name));
                return false;
            }
        }
        for (CDocumentProperty* property : found)
        {
            QString reason;
            if (!property->accepts(value, &reason))
            {
                error = tr("The value %1 for \"%2\" %3.").arg(shown(value), name, reason);
                return false;
            }
            property->setValue(value);
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
                           QString& error)
{
    if (!applySettings(document, options.values(QStringLiteral("set")), error))
        return false;
    const QString secretsFile = options.value(QStringLiteral("secrets-file"));
    return (secretsFile.isEmpty() || secrets.readFile(secretsFile, error)) &&
           secrets.fill(document.document(), error);
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
        for (const CDocument::CPage& page : doc.pages())
            pages.append(QJsonObject{{QStringLiteral("name"), page.m_sName},
                                     {QStringLiteral("title"), page.m_sTitle}});
        QJsonArray properties;
        for (const CDocumentProperty& property : doc.properties())
            properties.append(propertyJson(property));
        QJsonObject root{{QStringLiteral("product"), product},
                         {QStringLiteral("version"), version},
                         {QStringLiteral("kind"), document.kind()},
                         {QStringLiteral("title"), doc.title()},
                         {QStringLiteral("installer"), document.sourceFile().absoluteFilePath()},
                         {QStringLiteral("pages"), pages},
                         {QStringLiteral("properties"), properties}};
        if (!document.customizationFile().filePath().isEmpty())
            root.insert(QStringLiteral("customization"),
                        document.customizationFile().absoluteFilePath());
        if (flat)
        {
            QJsonArray chain;
            for (const CPackageSignature::Certificate& certificate : signature.chain())
                chain.append(QJsonObject{{QStringLiteral("name"), certificate.name},
                                         {QStringLiteral("issuer"), certificate.issuer},
                                         {QStringLiteral("validFrom"), certificate.validFrom},
                                         {QStringLiteral("expires"), certificate.expires}});
            root.insert(QStringLiteral("signature"),
                        QJsonObject{{QStringLiteral("state"), signatureState(signature)},
                                    {QStringLiteral("verifies"), signature.verifies()},
                                    {QStringLiteral("summary"), signature.summary()},
                                    {QStringLiteral("problem"), signature.problem()},
                                    {QStringLiteral("chain"), chain}});
        }
        m_out << QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
        m_out.flush();
        return Success;
    }
    m_out << tr("Product: %1").arg(product) << '\n'
          << tr("Version: %1").arg(version) << '\n'
          << tr("Kind: %1").arg(document.kind()) << '\n'
          << tr("Installer: %1").arg(native(document.sourceFile().absoluteFilePath())) << '\n';
    if (flat)
        m_out << tr("Signature: %1").arg(signatureText(signature)) << '\n';
    if (!document.customizationFile().filePath().isEmpty())
        m_out
            << tr("Customization: %1").arg(native(document.customizationFile().absoluteFilePath()))
            << '\n';
    m_out << '\n' << tr("Pages:") << '\n';
    for (const CDocument::CPage& page : doc.pages())
        m_out << QStringLiteral("  ") << page.m_sName << QStringLiteral("  ") << page.m_sTitle
              << '\n';
    m_out << '\n' << tr("Properties:") << '\n';
    for (const CDocumentProperty& property : doc.properties())
    {
        m_out << QStringLiteral("  ") << property.m_sProperty << QStringLiteral(" (")
              << property.m_sName << QStringLiteral(", ")
              << CDocumentProperty::kindName(property.m_kind);
        if (!property.m_sPage.isEmpty())
            m_out << QStringLiteral(", ") << tr("page %1").arg(property.m_sPage);
        const bool secret = property.isSecret();
        m_out << QStringLiteral(")\n      ")
              << tr("default: %1")
                     .arg(!property.m_bHasDefault ? tr("none")
                          : secret                ? secretState(property.m_sDefault)
                                                  : shown(property.m_sDefault))
              << QStringLiteral("  ")
              << tr("value: %1")
                     .arg(secret ? secretState(property.m_sValue) : shown(property.m_sValue));
        if (secret)
            m_out << QStringLiteral("  ") << tr("(secret)");
        if (!property.isSet())
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
    if (identity.isEmpty())
    {
        if (passwordFile.isEmpty() && passwordVariable.isEmpty())
            return true;
        error = tr("A signing password is given, but no --sign-identity.");
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
    signing.identityFile = QFileInfo(identity).absoluteFilePath();
    signing.password = password;
    return true;
}

int CCliTool::publish(const QStringList& arguments)
{
    COptions options;
    QString error;
    if (!parse(arguments, {QStringLiteral("force")},
               {QStringLiteral("output"), QStringLiteral("installer"), QStringLiteral("set"),
                QStringLiteral("option"), QStringLiteral("sign-identity"),
                QStringLiteral("sign-password-file"), QStringLiteral("sign-password-env"),
                QStringLiteral("secrets-file")},
               tr("publish needs one customization or installer."), options, error))
        return fail(UsageError, error);
    CMacFlatPackage::Signing signing;
    if (!signingIdentity(options, signing, error))
        return fail(UsageError, error);
    const QString output = options.value(QStringLiteral("output"));
    if (output.isEmpty())
        return fail(UsageError, tr("publish needs --output PATH."));
    CCliDocument document;
    if (!openDocument(options, document, error))
        return fail(UsageError, error);
    if (interrupted())
        return Failure;
    // A customization saved without its secrets gets them back: installers need them.
    CCliSecrets secrets;
    if (!applyValues(options, document, secrets, error))
        return fail(UsageError, error);
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

    CPublisher publisher;
    publisher.setSigning(signing);
    publisher.setInterruptCheck([] { return m_gInterrupted != 0; });
    connect(&publisher, &CPublisher::progress, this, &CCliTool::progress);
    QString message;
    QString written;
    if (interrupted())
        return Failure;
    const bool published =
        publisher.publish(document.installer(), document.sourceFile(), output,
                          document.document().entries(false), document.document().entries(true),
                          options.m_lFlags.contains(QStringLiteral("force")), message, written);
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
    m_out << tr("Published %1").arg(native(written)) << '\n';
    m_out.flush();
    return Success;
}

int CCliTool::check(const QStringList& arguments)
{
    COptions options;
    QString error;
    if (!parse(arguments, {QStringLiteral("json")},
               {QStringLiteral("installer"), QStringLiteral("set"), QStringLiteral("option"),
                QStringLiteral("timeout"), QStringLiteral("secrets-file")},
               tr("check needs one customization or installer."), options, error))
        return fail(UsageError, error);
    int timeoutMs = 30000;
    if (!options.value(QStringLiteral("timeout")).isEmpty())
    {
        bool ok = false;
        const int seconds = options.value(QStringLiteral("timeout")).toInt(&ok);
        if (!ok || seconds < 1 || seconds > 3600)
            return fail(UsageError, tr("--timeout takes seconds from 1 to 3600."));
        timeoutMs = seconds * 1000;
    }
    CCliDocument document;
    if (!openDocument(options, document, error))
        return fail(UsageError, error);
    if (interrupted())
        return Failure;
    // The checks see the secrets a publish would have; one still missing stays empty.
    CCliSecrets secrets;
    if (!applyValues(options, document, secrets, error))
        return fail(UsageError, error);

    CValidationRun run(document.document(), timeoutMs);
    const bool passed = run.run();
    // A check may quote what a field holds (in a message or a web address): a
    // secret never reaches the output so.
    QStringList secretValues;
    for (const CDocumentProperty& property : document.document().properties())
    {
        if (property.isSecret() && !property.m_sValue.isEmpty())
            secretValues << property.m_sValue;
    }
    auto hide = [&secretValues](QString text)
    {
        for (const QString& value : qAsConst(secretValues))
            text.replace(value, QStringLiteral("(secret)"));
        return text;
    };
    QList<CValidationRun::CCheck> reported = run.checks();
    for (CValidationRun::CCheck& check : reported)
    {
        for (QString& message : check.m_lMessages)
            message = hide(message);
        for (CValidationRun::CUrl& url : check.m_lUrls)
        {
            url.m_sUrl = hide(url.m_sUrl);
            url.m_sReason = hide(url.m_sReason);
        }
    }
    for (const CValidationRun::CCheck& check : qAsConst(reported))
    {
        for (const QString& message : check.m_lMessages)
            m_err << message << '\n';
    }
    m_err.flush();
    if (options.m_lFlags.contains(QStringLiteral("json")))
    {
        QJsonArray checks;
        for (const CValidationRun::CCheck& check : qAsConst(reported))
        {
            QJsonArray urls;
            for (const CValidationRun::CUrl& url : check.m_lUrls)
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
        for (const CValidationRun::CCheck& check : qAsConst(reported))
        {
            m_out << (check.m_bPassed ? tr("passed") : tr("FAILED")) << QStringLiteral(": ")
                  << check.m_sSlot;
            if (!check.m_sWidget.isEmpty())
                m_out << QLatin1Char(' ') << check.m_sWidget;
            m_out << '\n';
            for (const CValidationRun::CUrl& url : check.m_lUrls)
            {
                m_out << QStringLiteral("    ") << (url.m_bPassed ? tr("ok") : tr("failed"))
                      << QStringLiteral("  ") << url.m_sName << QStringLiteral("  ") << url.m_sUrl;
                if (!url.m_sReason.isEmpty())
                    m_out << QStringLiteral("  ") << url.m_sReason;
                m_out << '\n';
            }
        }
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
    if (QFileInfo::exists(output) && !options.m_lFlags.contains(QStringLiteral("force")))
        return fail(UsageError,
                    tr("\"%1\" already exists. Use --force to replace it.").arg(native(output)));

    const CCustomizationFile::CContents& contents = previous.customization();
    const QList<CMigration::CItem> items = CMigration::migrate(
        contents, previousOpened ? &previous.document() : nullptr, next.document());
    if (!CCustomizationFile::write(
            output, next.sourceFile(),
            contents.m_sLastSaveFile.isEmpty() ? QFileInfo() : QFileInfo(contents.m_sLastSaveFile),
            next.document().entries(false)))
        return fail(Failure, tr("Tessary is unable to save \"%1\".  Close the file if it's open, "
                                "verify that the disk isn't full, remove write-protection on the "
                                "file, and then try again.")
                                 .arg(native(output)));

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
