#include "ValidationRun.h"

#include "app/document/Document.h"

#include "app/validation/StatusCodeValidator.h"
#include "app/validation/ValidateWebResource.h"
#include "app/validation/WsdlValidator.h"
#include "app/validation/XmlWellFormedValidator.h"

#include <QCoreApplication>
#include <QDebug>
#include <QUrl>
#include <tinyxml.h>

namespace
{
// Nested actions deeper than this are not followed: a definition is untrusted.
const int kMaxActionDepth = 32;

QString tr(const char* text)
{
    return QCoreApplication::translate("CValidationRun", text);
}

QString attribute(const TiXmlElement* element, const char* name)
{
    const char* value = element->Attribute(name);
    return value ? QString::fromUtf8(value)
                       .replace(QLatin1String("%OS%"), QLatin1String("Mac"))
                       .replace(QLatin1String("%LANGUAGE%"), QLatin1String("en_US"))
                 : QString();
}

QString caption(const TiXmlElement* element, const char* name)
{
    const char* value = element->Attribute(name);
    return value ? QCoreApplication::translate("QObject", value) : QString();
}

bool isAction(const TiXmlElement* element)
{
    const QString kind = QString::fromUtf8(element->Value()).toLower();
    return kind == QLatin1String("action") || kind == QLatin1String("validateurl");
}
} // namespace

CValidationRun::CValidationRun(CDocument& document, int timeoutMs)
    : m_document(document), m_iTimeoutMs(timeoutMs)
{
}

bool CValidationRun::run()
{
    m_lChecks.clear();
    bool passed = true;
    for (const QByteArray& text : m_document.validateActions())
    {
        TiXmlDocument document;
        document.Parse(text.constData(), nullptr, TIXML_ENCODING_UTF8);
        const TiXmlElement* const action = document.RootElement();
        if (!action)
            continue;
        CCheck check;
        check.m_sSlot = attribute(action, "slot");
        check.m_sWidget = attribute(action, "widget");
        perform(action, check, 0);
        passed = passed && check.m_bPassed;
        m_lChecks.append(check);
    }
    return passed;
}

void CValidationRun::children(const TiXmlElement* action, const char* signal, CCheck& check,
                              int depth)
{
    for (const TiXmlElement* child = action->FirstChildElement(); child;
         child = child->NextSiblingElement())
    {
        if (isAction(child) && attribute(child, "signal") == QLatin1String(signal))
            perform(child, check, depth + 1);
    }
}

bool CValidationRun::perform(const TiXmlElement* action, CCheck& check, int depth)
{
    if (depth > kMaxActionDepth)
    {
        check.m_bPassed = false;
        check.m_lMessages << tr("Actions are nested too deep to be followed.");
        return false;
    }
    children(action, "pre", check, depth);
    const bool result = performMain(action, check);
    children(action, result ? "success" : "failure", check, depth);
    children(action, "post", check, depth);
    return result;
}

bool CValidationRun::performMain(const TiXmlElement* action, CCheck& check)
{
    const QString slot = attribute(action, "slot");
    if (QString::fromUtf8(action->Value()).toLower() == QLatin1String("validateurl"))
        return webCheck(action, check);
    if (slot == QLatin1String("messagebox"))
    {
        const QString severity = attribute(action, "severity").toLower();
        check.m_lMessages << QStringLiteral("%1: %2: %3")
                                 .arg(severity.isEmpty() ? QStringLiteral("information") : severity,
                                      caption(action, "title"), caption(action, "msg"));
        return true;
    }
    if (slot == QLatin1String("question"))
    {
        const bool yes = attribute(action, "defaultAnswer") == QLatin1String("yes");
        check.m_lMessages << tr("question: %1: %2 Answered %3 (the definition's default).")
                                 .arg(caption(action, "title"), caption(action, "msg"),
                                      yes ? tr("yes") : tr("no"));
        return yes;
    }
    if (slot == QLatin1String("cmd") || slot == QLatin1String("open") ||
        slot == QLatin1String("browsefile") || slot == QLatin1String("browsedir"))
    {
        check.m_bPassed = false;
        check.m_lMessages
            << tr("The action \"%1\" cannot run without a window; the check fails.").arg(slot);
        return false;
    }
    if (slot == QLatin1String("cancelpublish"))
    {
        check.m_bPassed = false;
        check.m_lMessages << tr("The publish is canceled.");
        return true;
    }

    const QString value = attribute(action, "value");
    const bool hasValue = action->Attribute("value") != nullptr;
    const QString source = attribute(action, "source");
    bool result = true;
    for (const QString& name : attribute(action, "widget").split(QLatin1Char(',')))
    {
        const QList<CDocumentProperty*> targets = m_document.findField(name.trimmed());
        for (CDocumentProperty* target : targets)
        {
            if (!result)
                break;
            if (slot == QLatin1String("isempty"))
                result = target->m_sValue.isEmpty();
            else if (slot == QLatin1String("equals"))
                result = target->m_sValue == value;
            else if (slot == QLatin1String("setvalue"))
            {
                const QList<CDocumentProperty*> sources = m_document.findField(source);
                if (hasValue)
                    target->setValue(value);
                else if (!sources.isEmpty())
                    target->setValue(sources.first()->m_sValue);
            }
            else if (slot == QLatin1String("clear"))
                target->setValue(QString());
            else if (slot == QLatin1String("check") || slot == QLatin1String("click"))
                target->setValue(target->m_sCheckValue);
            else if (slot == QLatin1String("uncheck") || slot == QLatin1String("unclick"))
                target->setValue(target->m_sUncheckValue);
        }
    }
    // Showing, enabling, focusing and choosing pages change nothing without a window.
    return result;
}

bool CValidationRun::webCheck(const TiXmlElement* action, CCheck& check)
{
    bool passed = true;
    for (const TiXmlElement* url = action->FirstChildElement("url"); url;
         url = url->NextSiblingElement("url"))
    {
        CUrl result;
        result.m_sName = attribute(url, "name");
        result.m_sUrl = attribute(url, "u");
        ValidateWebResource resource(QUrl(result.m_sUrl), nullptr, m_iTimeoutMs);
        const QString status = attribute(url, "statusValidation");
        if (status == QLatin1String("2xx"))
            resource.addValidator(
                std::make_shared<StatusCodeValidator>(StatusCodeValidator::Group2xx));
        else if (!status.isEmpty())
        {
            auto codes = std::make_shared<StatusCodeValidator>(StatusCodeValidator::NoGroup);
            for (const QString& part : status.split(QLatin1Char(',')))
                codes->addExpectedCode(part.trimmed().toInt(nullptr, 10));
            resource.addValidator(codes);
        }
        const QString content = attribute(url, "contentValidation");
        if (content == QLatin1String("xml"))
            resource.addValidator(std::make_shared<XmlWellFormedValidator>());
        else if (content == QLatin1String("wsdl"))
            resource.addValidator(std::make_shared<WsdlValidator>());
        bool done = false;
        QObject::connect(&resource, &ValidateWebResource::validationSucceeded,
                         [&] { result.m_bPassed = done = true; });
        QObject::connect(&resource, &ValidateWebResource::validationFailed,
                         [&](const QString& reason)
                         {
                             result.m_sReason = reason;
                             done = true;
                         });
        resource.run();
        if (!done)
            result.m_sReason = tr("No answer.");
        passed = passed && result.m_bPassed;
        check.m_lUrls.append(result);
    }
    if (!passed)
        check.m_bPassed = false;
    return passed;
}
