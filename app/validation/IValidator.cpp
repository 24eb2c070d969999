#include "IValidator.h"

IValidator::~IValidator() = default;
