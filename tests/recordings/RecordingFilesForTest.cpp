#include "RecordingFilesForTest.h"

#include <QDateTime>
#include <QFile>

#include <cstdint>

namespace {

void PutLe(QByteArray& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

} // namespace

bool WriteSilentWav(const QString& path, double seconds, int minutesAgo)
{
    constexpr uint32_t kRate = 44100;
    constexpr uint32_t kChannels = 2;
    constexpr uint32_t kBytesPerFrame = kChannels * 2;
    const auto dataBytes = static_cast<uint32_t>(seconds * kRate) * kBytesPerFrame;
    QByteArray wav("RIFF");
    PutLe(wav, 36 + dataBytes, 4);
    wav.append("WAVEfmt ");
    PutLe(wav, 16, 4);
    PutLe(wav, 1, 2); // PCM
    PutLe(wav, kChannels, 2);
    PutLe(wav, kRate, 4);
    PutLe(wav, kRate * kBytesPerFrame, 4);
    PutLe(wav, kBytesPerFrame, 2);
    PutLe(wav, 16, 2);
    wav.append("data");
    PutLe(wav, dataBytes, 4);
    wav.append(QByteArray(static_cast<qsizetype>(dataBytes), '\0'));
    QFile file(path);
    return WriteTextFile(path, wav) && file.open(QIODevice::ReadWrite) &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-60 * minutesAgo), QFileDevice::FileModificationTime);
}

bool WriteTextFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}
