// Entry of the UI test binaries: a QApplication on the platform the environment names (offscreen
// under ctest), the program's skin resources, window shadows registered, then every test.

#include "CWndShadow.h"
#include "SkinResources.h"

#include <QApplication>

#include <glog/logging.h>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    LoadSkinResources(FindSkinFolder());
    CWndShadow::RegisterShadowClass();
    return RUN_ALL_TESTS();
}
