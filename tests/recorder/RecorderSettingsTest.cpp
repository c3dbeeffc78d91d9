// RecorderSettings: a stored value outside its range (garbage, negative, huge, out of range) gives
// the default.

#include "ConfigStore.h"
#include "RecorderSettings.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

TEST(RecorderSettings, EveryKeyOutOfItsRangeGivesItsDefault)
{
    const struct {
        const char* key;
        std::vector<const char*> values;
    } cases[] = {
        {config::kNoiseCheck, {"abc", "-5", "99999999999", "4294967297", "3", "-1"}},
        {config::kAgcCheck, {"abc", "-5", "99999999999", "4294967297", "3", "-1"}},
        {config::kVoiceSource, {"abc", "-5", "99999999999", "4294967298", "3", "-1"}},
        {config::kAudioMuteCheck, {"abc", "-5", "99999999999", "4294967297", "3", "-1"}},
        {config::kVoiceSize, {"abc", "-5", "99999999999", "4294967297", "101", "-1"}},
    };
    RecordParams params;
    params.format = "mp3"; // (a WAV recording switches noise suppression and gain control off)
    params.micPresent = true;
    const RecorderSettings defaults;
    for (const auto& c : cases) {
        for (const char* value : c.values) {
            SCOPED_TRACE(std::string(c.key) + "=" + value);
            TestEnv env;
            ASSERT_TRUE(WriteConfigString(config::kSection, c.key, value));
            RecorderSettings s;
            ASSERT_TRUE(RecorderSettings::Read(params, s));
            EXPECT_EQ(s.noiseSuppression, defaults.noiseSuppression);
            EXPECT_EQ(s.gainControl, defaults.gainControl);
            EXPECT_EQ(s.source, defaults.source);
            EXPECT_EQ(s.silentMode, defaults.silentMode);
            EXPECT_EQ(s.micGainDb, defaults.micGainDb);
        }
    }
}
