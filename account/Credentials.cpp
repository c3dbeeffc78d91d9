#include "Credentials.h"

#include "AES.h"
#include "Base64.h"
#include "ConfigStore.h"

#include <json/json.h>
#include <glog/logging.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kBlock = 16; // AES-128 block and key length
// A real file holds two short texts (some hundred bytes); anything far larger is not ours.
constexpr size_t kMaxFileBytes = 64 * 1024;

AES MakeCipher()
{
    AES aes;
    aes.MakeKey(reinterpret_cast<const uint8_t*>(kCredentialsKey), reinterpret_cast<const uint8_t*>(kCredentialsIv),
                kBlock, kBlock);
    return aes;
}

// Reads fd to the end, at most limit + 1 bytes. False on a read error.
bool ReadAll(int fd, std::string& out, size_t limit)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() > limit)
            return true;
    }
}

bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string EncodeCredentials(const std::string& account, const std::string& password)
{
    Json::Value root(Json::objectValue);
    root["account"] = account;
    root["password"] = password;
    std::string plain = Json::StyledWriter().write(root);

    const size_t pad = kBlock - plain.size() % kBlock;
    plain.append(pad, static_cast<char>(pad));
    AES aes = MakeCipher();
    auto* bytes = reinterpret_cast<uint8_t*>(plain.data());
    aes.Encrypt(bytes, bytes, plain.size(), AES::kCBC);
    return Base64Encode(plain);
}

bool DecodeCredentials(const std::string& fileBytes, Credentials& out)
{
    out = Credentials();
    // The text ends at a zero byte; a line end an editor may have added is not part of it.
    std::string text = fileBytes.substr(0, fileBytes.find('\0'));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();

    std::string plain;
    if (!Base64Decode(text, plain) || plain.empty() || plain.size() % kBlock != 0)
        return false;
    AES aes = MakeCipher();
    auto* bytes = reinterpret_cast<uint8_t*>(plain.data());
    aes.Decrypt(bytes, bytes, plain.size(), AES::kCBC);

    const size_t pad = static_cast<uint8_t>(plain.back());
    if (pad < 1 || pad > kBlock)
        return false;
    for (size_t i = plain.size() - pad; i < plain.size(); ++i) {
        if (static_cast<uint8_t>(plain[i]) != pad)
            return false;
    }
    plain.resize(plain.size() - pad);
    plain.resize(std::strlen(plain.c_str()));

    Json::Value root;
    Json::Reader reader;
    // The reader throws on text nested deeper than its stack limit; a damaged file is only ever "does
    // not parse", never the end of the program.
    try {
        if (!reader.parse(plain, root, true) || !root.isObject())
            return false;
    } catch (const std::exception&) {
        return false;
    }
    const Json::Value& account = root["account"];
    const Json::Value& password = root["password"];
    if (!(account.isString() || account.isNull()) || !(password.isString() || password.isNull()))
        return false;
    out.account = account.asString();
    out.password = password.asString();
    return true;
}

QString CredentialsFilePath()
{
    const QString folder = GetAppDataSubfolder(kCredentialsFolder);
    // Only the user may enter the folder that holds the file.
    if (::chmod(folder.toLocal8Bit().constData(), 0700) != 0)
        LOG(ERROR) << "chmod 0700 " << folder.toStdString() << ": " << std::strerror(errno);
    return folder + "/" + kCredentialsFileName;
}

bool SaveCredentials(const std::string& phone, const std::string& password)
{
    const std::string text = EncodeCredentials(phone, password);
    const std::string path = CredentialsFilePath().toLocal8Bit().toStdString();

    // A new file beside the old one, complete and on disk before it takes the old one's name.
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data()); // mode 0600
    const char* failed = nullptr;
    if (fd < 0) {
        failed = "create";
    } else {
        if (!WriteAll(fd, text))
            failed = "write";
        else if (::fsync(fd) != 0)
            failed = "sync";
        if (::close(fd) != 0 && !failed)
            failed = "close";
        if (!failed && ::rename(temp.c_str(), path.c_str()) != 0)
            failed = "rename";
        if (failed)
            ::unlink(temp.c_str());
    }
    if (failed) {
        const int error = errno;
        std::printf("open file error\n");
        std::fflush(stdout);
        LOG(ERROR) << "credentials not saved (" << failed << " " << path << "): " << std::strerror(error);
        return false;
    }
    return true;
}

Credentials LoadCredentials()
{
    Credentials credentials;
    const std::string path = CredentialsFilePath().toLocal8Bit().toStdString();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return credentials; // no file: nothing stored, nothing to say
    std::string bytes;
    const bool read = ReadAll(fd, bytes, kMaxFileBytes);
    ::close(fd);
    if (!read || bytes.size() > kMaxFileBytes || !DecodeCredentials(bytes, credentials))
        LOG(ERROR) << "json parse err";
    return credentials;
}

bool DeleteCredentials()
{
    const std::string path = CredentialsFilePath().toLocal8Bit().toStdString();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        LOG(ERROR) << "cannot delete " << path << ": " << std::strerror(errno);
        return false;
    }
    return true;
}
