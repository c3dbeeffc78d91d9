#include "SoundServerTest.h"

void SoundServerTest::SetUp()
{
    TAMSU_REQUIRE_SOUND_SERVER();
    ASSERT_TRUE(SoundServer::Reset());
}

void SoundServerTest::TearDown()
{
    if (SoundServer::Available()) {
        EXPECT_TRUE(SoundServer::Reset());
    }
}
