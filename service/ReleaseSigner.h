#pragma once
// ReleaseSigner: the service's release signing key (--release-key) and `tamsu-service keygen`.
//
// Key files, each one line of standard base64:
//   PREFIX.key  the 64-byte libsodium Ed25519 secret key (32-byte seed, then the public key), mode 0600
//   PREFIX.pub  the 32-byte public key: the value of the program's TAMSU_RELEASE_PUBLIC_KEY
// What is signed is a ReleaseStatement (ReleaseStatement.h documents the bytes).
//
// Thread-safety: Load once before serving; Sign is const and may then run on any thread.

#include "ReleaseManifest.h"

#include <sodium.h>

#include <array>
#include <string>

class ReleaseSigner {
public:
    ReleaseSigner() = default;
    ~ReleaseSigner();
    ReleaseSigner(const ReleaseSigner&) = delete;
    ReleaseSigner& operator=(const ReleaseSigner&) = delete;

    // Reads a secret key file keygen wrote; false with error set when it cannot be read or is no
    // such key (a public key file, a damaged one).
    bool Load(const std::string& path, std::string& error);
    // The public key of the loaded secret key, base64.
    std::string PublicKey() const;
    // The signature of release as offered at downloadUrl; empty when the release cannot be stated
    // (an external address without "size" and "sha256").
    std::string Sign(const Release& release, const std::string& downloadUrl) const;

    // Writes a new key pair to prefix + ".key" and prefix + ".pub"; refuses when either exists.
    // publicKey: the new public key, base64.
    static bool WriteKeyPair(const std::string& prefix, std::string& publicKey, std::string& error);

private:
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey_{};
};
