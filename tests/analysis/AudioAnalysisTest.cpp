// The measurements the sound tests rely on, checked on files written by sox: decoding (WAV and
// MP3, mono and stereo), level, frequency and where a signal stops and starts.

#include "AudioAnalysis.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

// Runs sox with the given arguments (output file last); true on success.
bool Sox(const std::string& args)
{
    return std::system(("sox -q -n " + args + " 2>&1").c_str()) == 0;
}

class AudioAnalysisTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) { return env.Root().toStdString() + "/" + name; }
    TestEnv env;
};

TEST_F(AudioAnalysisTest, FindsLengthFrequencyAndLevelOfAToneFile)
{
    struct Case {
        const char* file;
        const char* format; // sox output options
        int channels;
        double seconds;
        double tolerance; // MP3 frames pad the end
        double levelDb;   // MP3 encoding takes about 0.3 dB off a 1 kHz tone
    } cases[] = {
        {"tone.wav", "-r 44100 -c 2 -b 16", 2, 2.0, 0.001, 0.05},
        {"tone-mono.wav", "-r 48000 -c 1 -b 16", 1, 2.0, 0.001, 0.05},
        {"tone.mp3", "-r 44100 -c 2 -C 192", 2, 2.0, 0.06, 0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        // A 1 kHz sine at half scale: RMS 0.354 (-9.03 dBFS), power 0.125 at 1 kHz.
        ASSERT_TRUE(Sox(std::string(c.format) + " " + Path(c.file) + " synth 2 sine 1000 vol 0.5"));
        DecodedAudio audio;
        std::string error;
        ASSERT_TRUE(DecodeAudioFile(Path(c.file), audio, &error)) << error;
        EXPECT_EQ(audio.channels, c.channels);
        EXPECT_NEAR(audio.Seconds(), c.seconds, c.tolerance);
        EXPECT_GT(audio.packets, 0);
        ASSERT_EQ(audio.left.size(), audio.right.size());

        size_t from = audio.IndexAt(0.2), to = audio.IndexAt(1.8); // clear of MP3's edges
        double powerDb = 10 * std::log10(GoertzelPower(audio.left, audio.sampleRate, 1000, from, to));
        EXPECT_NEAR(powerDb, 10 * std::log10(0.125), c.levelDb);
        EXPECT_NEAR(RmsDb(audio.left, from, to), -9.03, c.levelDb);
        EXPECT_NEAR(RmsDb(audio.right, from, to), -9.03, c.levelDb);
        EXPECT_LT(GoertzelPower(audio.left, audio.sampleRate, 1300, from, to), 0.001);
        EXPECT_NEAR(DominantFrequency(audio.right, audio.sampleRate, 100, 5000, 10, from, to), 1000, 10);
    }
}

TEST_F(AudioAnalysisTest, TellsTwoMixedTonesApartAndFindsWhereSoundStops)
{
    // Left: 440 Hz for 1 s, 1 s of silence, 440 Hz again for 1 s. Right: 1 kHz throughout.
    ASSERT_TRUE(Sox("-r 44100 -c 1 -b 16 " + Path("a.wav") + " synth 1 sine 440 vol 0.5"));
    ASSERT_TRUE(Sox("-r 44100 -c 1 -b 16 " + Path("gap.wav") + " trim 0 1"));
    ASSERT_EQ(std::system(("sox " + Path("a.wav") + " " + Path("gap.wav") + " " + Path("a.wav") + " "
                  + Path("left.wav")).c_str()), 0);
    ASSERT_TRUE(Sox("-r 44100 -c 1 -b 16 " + Path("right.wav") + " synth 3 sine 1000 vol 0.25"));
    ASSERT_EQ(std::system(("sox -M " + Path("left.wav") + " " + Path("right.wav") + " " + Path("both.wav")).c_str()), 0);

    DecodedAudio audio;
    ASSERT_TRUE(DecodeAudioFile(Path("both.wav"), audio));
    ASSERT_EQ(audio.channels, 2);
    EXPECT_NEAR(audio.Seconds(), 3.0, 0.001);

    auto spans = FindLoudSpans(audio.left, audio.sampleRate, -30.0);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_NEAR(spans[0].first, 0.0, 0.011);
    EXPECT_NEAR(spans[0].second, 1.0, 0.011);
    EXPECT_NEAR(spans[1].first, 2.0, 0.011);
    EXPECT_NEAR(spans[1].second, 3.0, 0.011);
    EXPECT_LT(RmsDb(audio.left, audio.IndexAt(1.1), audio.IndexAt(1.9)), -90.0); // sox's dither only

    // The right channel never stops; its tone is the 1 kHz one, not the left's 440 Hz.
    spans = FindLoudSpans(audio.right, audio.sampleRate, -30.0);
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_NEAR(spans[0].second - spans[0].first, 3.0, 0.011);
    EXPECT_NEAR(DominantFrequency(audio.right, audio.sampleRate, 100, 2000, 5), 1000, 5);
    EXPECT_NEAR(GoertzelPower(audio.right, audio.sampleRate, 1000), 0.25 * 0.25 / 2, 0.002);
    EXPECT_LT(GoertzelPower(audio.right, audio.sampleRate, 440), 1e-4);
}

TEST_F(AudioAnalysisTest, EmptyRangesAndMissingFiles)
{
    std::vector<float> none;
    EXPECT_EQ(Rms(none), 0.0);
    EXPECT_EQ(RmsDb(none), -200.0);
    EXPECT_EQ(GoertzelPower(none, 44100, 1000), 0.0);
    EXPECT_TRUE(FindLoudSpans(none, 44100, -30).empty());
    std::vector<float> some(100, 0.5f);
    EXPECT_EQ(Rms(some, 50, 50), 0.0);
    EXPECT_NEAR(Rms(some, 90, 1000), 0.5, 1e-9); // end beyond the data is clamped

    DecodedAudio audio;
    std::string error;
    EXPECT_FALSE(DecodeAudioFile(Path("missing.wav"), audio, &error));
    EXPECT_NE(error.find("missing.wav"), std::string::npos);
}

} // namespace
