#include "XmlWellFormedValidator.h"

#include <QDomDocument>
#include <QDomElement>
#include <QXmlStreamReader>

XmlWellFormedValidator::XmlWellFormedValidator() : m_pDocument(std::make_shared<QDomDocument>()) {}

XmlWellFormedValidator::~XmlWellFormedValidator() = default;

bool XmlWellFormedValidator::validate(QNetworkReply* /*reply*/, const QByteArray& body,
                                      QString& error)
{
    // A streaming reader keeps the stack flat whatever the nesting, and nothing
    // from a document type definition is ever expanded: the body comes from the
    // network and may be built to exhaust the program.
    auto document = std::make_shared<QDomDocument>();
    QXmlStreamReader reader(body);
    QString problem;
    int depth = 0;
    while (problem.isEmpty() && !reader.atEnd())
    {
        switch (reader.readNext())
        {
        case QXmlStreamReader::DTD:
            problem = QStringLiteral("document type definitions are not accepted");
            break;
        case QXmlStreamReader::EntityReference:
            problem = QStringLiteral("undeclared entity \"%1\"").arg(reader.name());
            break;
        case QXmlStreamReader::StartElement:
            if (++depth > MaxDepth)
            {
                problem = QStringLiteral("elements are nested deeper than %1 levels").arg(MaxDepth);
            }
            else if (depth == 1)
            {
                // Only the root is kept: the checks need its name, and a whole tree
                // of a large body would cost far more memory than the body itself.
                QDomElement root = document->createElement(reader.qualifiedName().toString());
                for (const QXmlStreamAttribute& attribute : reader.attributes())
                    root.setAttribute(attribute.qualifiedName().toString(),
                                      attribute.value().toString());
                document->appendChild(root);
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    if (problem.isEmpty() && reader.hasError())
        problem = reader.errorString();
    if (!problem.isEmpty())
    {
        m_pDocument = std::make_shared<QDomDocument>();
        error = QStringLiteral("Document is not well-formed XML: %1")
                    .arg(QStringLiteral("%1 (line %2, column %3)")
                             .arg(problem)
                             .arg(reader.lineNumber())
                             .arg(reader.columnNumber()));
        return false;
    }
    m_pDocument = document;
    return true;
}
