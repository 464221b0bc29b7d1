// The hostile suite's entry: the archives are made before the tests are listed,
// since the manifest decides which tests exist.
#include "HostileSuite.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (!hostile::prepare())
        return 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
