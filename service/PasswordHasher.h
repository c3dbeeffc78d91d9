#pragma once
// PasswordHasher: Argon2id password hashes (libsodium's crypto_pwhash_str), with at most
// kMaxConcurrentHashes computed at once so memory stays bounded however many logins arrive.
//
// Cost: 2 passes over 19 MiB (the common recommendation for Argon2id), about 50 ms on one core of
// an idle 2-core machine and a few hundred ms when it is busy, so a login stays well under a second. Hashes carry their own parameters: a stored
// hash of another cost still verifies, and NeedsRehash tells when to replace it.
// Thread-safe.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

class PasswordHasher {
public:
    // Argon2id passes and memory per hash.
    static constexpr unsigned long long kOpsLimit = 2;
    static constexpr std::size_t kMemLimit = 19u * 1024 * 1024;
    // Hashes computed at once: one per core of the small machine the service is sized for; more
    // would only queue for the cores while holding their 19 MiB each.
    static constexpr int kMaxConcurrentHashes = 2;

    // The stored text; empty when hashing failed (out of memory).
    std::string Hash(const std::string& password);
    bool Verify(const std::string& stored, const std::string& password);
    bool NeedsRehash(const std::string& stored) const;
    // Spends the time of one Verify, for logins of unknown phones (answer time tells nothing).
    void Dummy(const std::string& password);

private:
    void Acquire();
    void Release();

    std::mutex mutex_;
    std::condition_variable slotFree_;
    int busy_ = 0;
    std::string dummyHash_;
};
