#include "TestEnvironment.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    TestSupport::setUpProcessEnvironment();
    return RUN_ALL_TESTS();
}
