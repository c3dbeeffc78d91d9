#pragma once
// AES: the Rijndael block cipher as published, with keys of 16, 24 or 32 bytes and blocks of 16,
// 24 or 32 bytes (16-byte blocks are the AES standard), in ECB, CBC or CFB mode.
//
//   AES aes;
//   aes.MakeKey(key, iv, 16, 16);
//   aes.Encrypt(plain, cipher, length, AES::kCBC); // length: a multiple of the block size
//
// The chain block starts as the one given to MakeKey and advances across every buffer that
// Encrypt or Decrypt handles, until ResetChain. CFB feeds back a whole block (CFB-128 for
// 16-byte blocks).
//
// Thread: one object per thread; an object holds its key schedule and chain.

#include <cstddef>
#include <cstdint>

class AES {
public:
    enum Mode { kECB = 0, kCBC = 1, kCFB = 2 };

    static constexpr int kMaxBlockSize = 32;
    static constexpr int kMaxRounds = 14;

    // Key schedule from key (keyLength bytes) for blocks of blockSize bytes; chain is the initial
    // chain block (blockSize bytes; nullptr = zeros). False, with nothing changed, for a length
    // other than 16, 24 or 32.
    bool MakeKey(const uint8_t* key, const uint8_t* chain, int keyLength, int blockSize);
    // Back to the chain block given to MakeKey.
    void ResetChain();

    // One block, without chaining. in and out may be the same buffer.
    void EncryptBlock(const uint8_t* in, uint8_t* out) const;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const;

    // length bytes of in to out (which may be the same buffer). False, with out untouched, when
    // no key was made or length is not a multiple of the block size.
    bool Encrypt(const uint8_t* in, uint8_t* out, size_t length, Mode mode);
    bool Decrypt(const uint8_t* in, uint8_t* out, size_t length, Mode mode);

    int BlockSize() const { return blockSize_; }

private:
    bool Usable(size_t length) const;

    int blockSize_ = 0; // 0 until MakeKey succeeded
    int rounds_ = 0;
    // Round keys, one block per round, bytes in the order of the state (column by column).
    uint8_t roundKeys_[(kMaxRounds + 1) * kMaxBlockSize] = {};
    uint8_t chain0_[kMaxBlockSize] = {};
    uint8_t chain_[kMaxBlockSize] = {};
};
