#pragma once
// SoundServerTest: base fixture of the tests that talk to the private sound server. Skips (or, in
// CI, fails) when no server runs, and puts the server's standard layout back before and after
// each test, so every test starts from "speaker", "mic-feed" and "mic" whatever the one before did.

#include "SoundServer.h"

#include <gtest/gtest.h>

class SoundServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};
