#include "ReleaseSigner.h"

#include "ReleaseStatement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// A key file is one line of base64 (88 characters for a secret key); anything much longer is not one.
constexpr std::size_t kMaxKeyFileBytes = 1024;

// Creates path with mode, failing when it exists (also as a link); writes text and a newline.
bool WriteNewFile(const std::string& path, mode_t mode, const std::string& text, std::string& error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string line = text + "\n";
    const bool ok = ::fchmod(fd, mode) == 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (!ok)
        error = "cannot write " + path + ": " + std::strerror(errno);
    if (::close(fd) != 0 && ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return ok;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

ReleaseSigner::~ReleaseSigner() { sodium_memzero(secretKey_.data(), secretKey_.size()); }

bool ReleaseSigner::Load(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "release key " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text(kMaxKeyFileBytes + 1, '\0');
    const ssize_t got = ::read(fd, text.data(), text.size());
    ::close(fd);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> derived{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> check{};
    // The public half stored in the key must be the one its seed gives: a damaged or hand-made
    // key would sign with a key nobody has built into the program.
    const bool ok = sodium_init() >= 0 && got > 0 && static_cast<std::size_t>(got) <= kMaxKeyFileBytes &&
                    DecodeBase64(text, secretKey_.data(), secretKey_.size()) &&
                    crypto_sign_seed_keypair(derived.data(), check.data(), secretKey_.data()) == 0 &&
                    sodium_memcmp(check.data(), secretKey_.data(), check.size()) == 0;
    sodium_memzero(check.data(), check.size());
    sodium_memzero(text.data(), text.size());
    if (!ok) {
        sodium_memzero(secretKey_.data(), secretKey_.size());
        error = "release key " + path + " is no Ed25519 secret key (tamsu-service keygen writes one)";
    }
    return ok;
}

std::string ReleaseSigner::PublicKey() const
{
    return EncodeBase64(secretKey_.data() + crypto_sign_SEEDBYTES, crypto_sign_PUBLICKEYBYTES);
}

std::string ReleaseSigner::Sign(const Release& release, const std::string& downloadUrl) const
{
    return ReleaseStatement(release.appVersion, ReleaseStatement::AddressFileName(downloadUrl), release.size,
                            release.sha256)
        .Sign(secretKey_.data());
}

bool ReleaseSigner::WriteKeyPair(const std::string& prefix, std::string& publicKey, std::string& error)
{
    const std::string secretPath = prefix + ".key";
    const std::string publicPath = prefix + ".pub";
    for (const std::string& path : {secretPath, publicPath}) {
        if (Exists(path)) {
            error = path + " exists; a key is never overwritten";
            return false;
        }
    }
    if (sodium_init() < 0) {
        error = "libsodium cannot start";
        return false;
    }
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> pk{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> sk{};
    crypto_sign_keypair(pk.data(), sk.data());
    std::string secretText = EncodeBase64(sk.data(), sk.size());
    sodium_memzero(sk.data(), sk.size());
    publicKey = EncodeBase64(pk.data(), pk.size());
    const bool ok = WriteNewFile(secretPath, 0600, secretText, error);
    sodium_memzero(secretText.data(), secretText.size());
    if (!ok)
        return false;
    if (!WriteNewFile(publicPath, 0644, publicKey, error)) {
        ::unlink(secretPath.c_str()); // a secret key without its public half is of no use
        return false;
    }
    return true;
}
