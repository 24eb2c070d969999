#include "XmlValidator.h"

#include "XmlContainer.h"

CXmlValidator::~CXmlValidator()
{
    // Never leave the framework calling into a destroyed validator.
    if (CXmlContainer::m_pStaticValidator == this)
        CXmlContainer::m_pStaticValidator = nullptr;
}
