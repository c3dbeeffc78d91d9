#include "SoundServerTest.h"

#include <cstdlib>

void SoundServerTest::SetUp()
{
    // Skipped in a run without scripts/test.sh; in CI the server must be there.
    if (!SoundServer::Available()) {
        if (std::getenv("CI"))
            GTEST_FAIL() << "the private sound server is not running (scripts/sound-server.sh)";
        GTEST_SKIP() << "no private sound server: eval \"$(scripts/sound-server.sh start build)\" first";
    }
    ASSERT_TRUE(SoundServer::Reset());
}

void SoundServerTest::TearDown()
{
    if (SoundServer::Available()) {
        EXPECT_TRUE(SoundServer::Reset());
    }
}
