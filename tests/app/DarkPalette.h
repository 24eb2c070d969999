#pragma once

#include <QPalette>

namespace AppTest
{
// A dark scheme as a desktop sets it: light text on dark grounds. The screenshots
// and the tests of the window's colours use the same one.
QPalette darkPalette();
} // namespace AppTest
