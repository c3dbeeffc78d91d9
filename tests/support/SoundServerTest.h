#pragma once
// SoundServerTest: base fixture of the tests that talk to the private sound server. Skips (or, in
// CI, fails) when no server runs, and puts the server's standard layout back before and after
// each test, so every test starts from "speaker", "mic-feed" and "mic" whatever the one before did.

#include "SoundServer.h"

#include <gtest/gtest.h>

#include <cstdlib>

class SoundServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SoundServer::Available()) {
            if (std::getenv("CI"))
                GTEST_FAIL() << "the private sound server is not running (scripts/sound-server.sh)";
            GTEST_SKIP() << "no private sound server: eval \"$(scripts/sound-server.sh start build)\" first";
        }
        ASSERT_TRUE(SoundServer::Reset());
    }
    void TearDown() override
    {
        if (SoundServer::Available()) {
            EXPECT_TRUE(SoundServer::Reset());
        }
    }
};
