#pragma once
// Helpers of the tests that run tamsu-record (TAMSU_RECORD_TOOL) as a program: one run to its end
// with what it printed, and the check of the recording it names.

#include "AudioAnalysis.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// Long enough for any run of the tests on a loaded machine; only a hung tool reaches it.
constexpr int kRunLimitMs = 60000;

struct ToolRun {
    int exitCode = -1;
    bool normalExit = false;
    QString out;
    QString err;

    QStringList OutLines() const { return out.split('\n', Qt::SkipEmptyParts); }
};

// Runs program (tamsu-record, or a wrapper around it) with args to its end; a run that does not
// end within kRunLimitMs is killed and reported as not exited normally.
inline ToolRun RunProgram(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    ToolRun run;
    if (!process.waitForStarted() || !process.waitForFinished(kRunLimitMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.normalExit = process.exitStatus() == QProcess::NormalExit;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline ToolRun RunTool(const QStringList& args) { return RunProgram(TAMSU_RECORD_TOOL, args); }

// The last line must be an existing recording in folder, named as the program names recordings;
// returns its decoded audio.
inline DecodedAudio CheckRecording(const ToolRun& run, const QString& folder, const QString& format)
{
    DecodedAudio audio;
    const QStringList lines = run.OutLines();
    EXPECT_FALSE(lines.isEmpty());
    if (lines.isEmpty())
        return audio;
    const QString path = lines.last();
    const QFileInfo info(path);
    EXPECT_TRUE(info.isFile()) << path.toStdString();
    EXPECT_EQ(info.absolutePath(), QDir(folder).absolutePath());
    const QRegularExpression name(QString::fromUtf8("^新录音-\\d{14}\\.") + format + "$");
    EXPECT_TRUE(name.match(info.fileName()).hasMatch()) << path.toStdString();
    std::string error;
    EXPECT_TRUE(DecodeAudioFile(path.toStdString(), audio, &error)) << error;
    EXPECT_EQ(audio.sampleRate, 44100);
    EXPECT_EQ(audio.channels, 2);
    return audio;
}
