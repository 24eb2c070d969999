#include "ActionHost.h"

CActionHost::~CActionHost() = default;
