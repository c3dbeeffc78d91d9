#pragma once
// Recordings made up for the list's tests.

#include <QDataStream>
#include <QDateTime>
#include <QFile>

// A silent WAV of seconds (44100 Hz, stereo, 16-bit) at path, its file time minutesAgo in the
// past. False when it cannot be written.
inline bool WriteSilentWav(const QString& path, double seconds, int minutesAgo = 0)
{
    const auto dataBytes = static_cast<quint32>(seconds * 44100) * 4;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(44100) << quint32(44100 * 4) << quint16(4) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    return file.write(QByteArray(static_cast<qsizetype>(dataBytes), '\0')) == dataBytes &&
           file.flush() &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-60 * minutesAgo), QFileDevice::FileModificationTime);
}
