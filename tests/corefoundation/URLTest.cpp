#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
