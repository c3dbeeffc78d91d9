#include "RecordingJournal.h"

#include "ConfigStore.h"
#include "WavHeader.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glog/logging.h>

#include <atomic>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

// First line of an entry: what the file is and the layout's version.
constexpr char kEntryMagic[] = "tamsu-recording-journal 1";
constexpr char kEntrySuffix[] = ".entry";
// Held (flock) while recovering, so that two programs starting together take turns.
constexpr char kLockName[] = ".lock";
// Field 22 of /proc/<pid>/stat is the start time; it is the 20th after the ")" ending the name.
constexpr int kStartTimeAfterName = 20;
// Largest pid the kernel hands out (PID_MAX_LIMIT on 64-bit systems).
constexpr unsigned long long kMaxPid = 4194304;
// The part of a WAV read to find its header in (the muxer's header is well under 1 KiB).
constexpr size_t kWavHeadBytes = 65536;

struct Entry {
    long pid = 0;
    unsigned long long start = 0;
    std::string format;
    std::string path;
};

// A descriptor closed when it goes out of scope.
struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

QString JournalFolder()
{
    return GetAppDataSubfolder("TamsuAudioRecorder/Journal");
}

// A decimal number made of digits only; nothing for anything else or on overflow.
std::optional<unsigned long long> ToNumber(const std::string& text)
{
    unsigned long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

// Start time (clock ticks after boot) of process pid; nothing when there is no such process or
// it has ended (a killed process stays a zombie until its parent collects it).
std::optional<unsigned long long> ProcessStartTime(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat))
        return std::nullopt;
    const size_t nameEnd = stat.rfind(')'); // the name itself may hold ")" and spaces
    if (nameEnd == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string field;
    for (int i = 0; i < kStartTimeAfterName; ++i) {
        if (!(fields >> field))
            return std::nullopt;
        if (i == 0 && (field == "Z" || field == "X"))
            return std::nullopt; // the state, first after the name: ended
    }
    return ToNumber(field);
}

bool OwnerAlive(long pid, unsigned long long start)
{
    return ProcessStartTime(pid) == start;
}

// The entry: the first line names the layout, the second holds pid, start time and format, and
// the rest of the file is the path, byte for byte (it may hold any character, newlines included).
std::string FormatEntry(const Entry& e)
{
    return std::string(kEntryMagic) + "\n" + std::to_string(e.pid) + " " + std::to_string(e.start) + " " +
           e.format + "\n" + e.path;
}

std::optional<Entry> ParseEntry(const std::string& text)
{
    const size_t first = text.find('\n');
    const size_t second = first == std::string::npos ? first : text.find('\n', first + 1);
    if (second == std::string::npos || text.compare(0, first, kEntryMagic) != 0)
        return std::nullopt;
    std::istringstream fields(text.substr(first + 1, second - first - 1));
    std::string pid, start;
    Entry e;
    if (!(fields >> pid >> start >> e.format) || !(fields >> std::ws).eof())
        return std::nullopt;
    const auto pidNumber = ToNumber(pid);
    const auto startNumber = ToNumber(start);
    if (!pidNumber || *pidNumber == 0 || *pidNumber > kMaxPid || !startNumber)
        return std::nullopt;
    e.pid = static_cast<long>(*pidNumber);
    e.start = *startNumber;
    e.path = text.substr(second + 1);
    if (e.path.empty())
        return std::nullopt;
    return e;
}

void RemoveEntry(const QString& file)
{
    if (!QFile::remove(file) && QFile::exists(file))
        LOG(WARNING) << "journal: cannot remove " << file.toStdString();
}

// Repairs or keeps the file of a finished owner's entry; true when it counts as recovered.
bool RecoverFile(const Entry& e)
{
    struct stat st{};
    if (stat(e.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        LOG(INFO) << "journal: unfinished recording " << e.path << " no longer exists";
        return false;
    }
    if (st.st_size == 0) {
        LOG(WARNING) << "journal: unfinished recording " << e.path << " is empty; kept as it is";
        return false;
    }
    if (e.format == "wav" && !RepairWavFile(e.path)) {
        LOG(WARNING) << "journal: unfinished recording " << e.path << " could not be repaired; kept as it is";
        return false;
    }
    LOG(INFO) << "recovered unfinished recording: " << e.path;
    return true;
}

} // namespace

bool RecordingJournal::Begin(const std::string& path, const std::string& format)
{
    End();
    // Entries of one process are told apart by a counter.
    static std::atomic<unsigned> sequence{0};
    if (format.empty() || format.find_first_of(" \t\r\n") != std::string::npos || path.empty()) {
        LOG(ERROR) << "journal: no entry for format \"" << format << "\" and path \"" << path << "\"";
        return false;
    }
    Entry e;
    e.pid = static_cast<long>(getpid());
    const auto start = ProcessStartTime(e.pid);
    if (!start) {
        LOG(ERROR) << "journal: cannot read this process's start time; " << path << " is not journaled";
        return false;
    }
    e.start = *start;
    e.format = format;
    e.path = path;

    const QString name = QString("%1-%2-%3").arg(e.pid).arg(e.start).arg(sequence.fetch_add(1)) + kEntrySuffix;
    const QString file = JournalFolder() + "/" + name;
    // QSaveFile writes a temporary file beside it, syncs it and renames it over the entry.
    QSaveFile out(file);
    const std::string text = FormatEntry(e);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !out.commit()) {
        LOG(ERROR) << "journal: cannot write " << file.toStdString() << ": " << out.errorString().toStdString()
                   << "; " << path << " is not journaled";
        return false;
    }
    entry_ = file.toStdString();
    return true;
}

void RecordingJournal::End()
{
    if (entry_.empty())
        return;
    RemoveEntry(QString::fromStdString(entry_));
    entry_.clear();
}

std::vector<std::string> RecoverUnfinishedRecordings()
{
    std::vector<std::string> recovered;
    try {
        const QString folder = JournalFolder();
        const Fd lock(open(QFile::encodeName(folder + "/" + kLockName).constData(),
                           O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (lock.fd < 0 || flock(lock.fd, LOCK_EX) != 0) {
            LOG(WARNING) << "journal: cannot lock " << folder.toStdString() << ": " << std::strerror(errno);
            return recovered;
        }
        const QStringList names = QDir(folder).entryList({QString("*") + kEntrySuffix}, QDir::Files, QDir::Name);
        for (const QString& name : names) {
            const QString file = folder + "/" + name;
            QFile in(file);
            const auto entry = in.open(QIODevice::ReadOnly) ? ParseEntry(in.readAll().toStdString()) : std::nullopt;
            if (!entry) {
                LOG(WARNING) << "journal: corrupt entry " << file.toStdString() << " removed";
                RemoveEntry(file);
                continue;
            }
            if (OwnerAlive(entry->pid, entry->start))
                continue; // being recorded right now
            if (RecoverFile(*entry))
                recovered.push_back(entry->path);
            RemoveEntry(file);
        }
    } catch (const std::exception& e) {
        LOG(ERROR) << "journal: recovery stopped: " << e.what();
    }
    return recovered;
}

bool RepairWavFile(const std::string& path)
{
    const Fd file(open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (file.fd < 0) {
        LOG(WARNING) << "cannot open " << path << " for repair: " << std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> head(kWavHeadBytes);
    ssize_t got;
    do {
        got = pread(file.fd, head.data(), head.size(), 0);
    } while (got < 0 && errno == EINTR);
    struct stat st{};
    const auto wav = got > 0 ? WavHeader::Parse(head.data(), static_cast<size_t>(got)) : std::nullopt;
    if (!wav || fstat(file.fd, &st) != 0) {
        LOG(WARNING) << path << " is not a WAV file; left as it is";
        return false;
    }
    if (!wav->WriteSizes(file.fd, static_cast<uint64_t>(st.st_size), true) || fdatasync(file.fd) != 0) {
        LOG(WARNING) << "cannot repair " << path << ": " << std::strerror(errno);
        return false;
    }
    return true;
}
