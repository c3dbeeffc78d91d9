#include "PasswordHasher.h"

#include <sodium.h>

void PasswordHasher::Acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    slotFree_.wait(lock, [this] { return busy_ < kMaxConcurrentHashes; });
    ++busy_;
}

void PasswordHasher::Release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --busy_;
    }
    slotFree_.notify_one();
}

std::string PasswordHasher::Hash(const std::string& password) {
    char out[crypto_pwhash_STRBYTES];
    Acquire();
    const int rc = crypto_pwhash_str(out, password.data(), password.size(), kOpsLimit, kMemLimit);
    Release();
    return rc == 0 ? std::string(out) : std::string();
}

bool PasswordHasher::Verify(const std::string& stored, const std::string& password) {
    Acquire();
    const int rc = crypto_pwhash_str_verify(stored.c_str(), password.data(), password.size());
    Release();
    return rc == 0;
}

bool PasswordHasher::NeedsRehash(const std::string& stored) const {
    return crypto_pwhash_str_needs_rehash(stored.c_str(), kOpsLimit, kMemLimit) != 0;
}

void PasswordHasher::Dummy(const std::string& password) {
    std::string stored;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stored = dummyHash_;
    }
    if (stored.empty()) {
        stored = Hash("not a password of anyone");
        std::lock_guard<std::mutex> lock(mutex_);
        dummyHash_ = stored;
    }
    Verify(stored, password);
}
