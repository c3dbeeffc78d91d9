#include "AES.h"

#include <array>
#include <cstring>

namespace {

// Multiplication by x in GF(2^8) modulo the Rijndael polynomial x^8 + x^4 + x^3 + x + 1.
uint8_t XTime(uint8_t a)
{
    return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0x00));
}

uint8_t Multiply(uint8_t a, uint8_t b)
{
    uint8_t product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = XTime(a);
        b >>= 1;
    }
    return product;
}

struct SBoxes {
    std::array<uint8_t, 256> forward{};
    std::array<uint8_t, 256> inverse{};

    // The S-box from its definition: the multiplicative inverse in GF(2^8), then the affine map.
    SBoxes()
    {
        for (int x = 0; x < 256; ++x) {
            uint8_t inv = 0;
            for (int y = 1; x && y < 256; ++y) {
                if (Multiply(static_cast<uint8_t>(x), static_cast<uint8_t>(y)) == 1) {
                    inv = static_cast<uint8_t>(y);
                    break;
                }
            }
            uint8_t s = inv;
            for (int shift = 1; shift <= 4; ++shift)
                s ^= static_cast<uint8_t>((inv << shift) | (inv >> (8 - shift)));
            s ^= 0x63;
            forward[x] = s;
            inverse[s] = static_cast<uint8_t>(x);
        }
    }
};

const SBoxes& Boxes()
{
    static const SBoxes boxes; // built once, thread-safe
    return boxes;
}

// Left rotation of row r for a block of nb columns (rows 1, 2, 3).
int RowShift(int nb, int row)
{
    static constexpr int kShift[3][4] = {{0, 1, 2, 3}, {0, 1, 2, 3}, {0, 1, 3, 4}};
    return kShift[(nb - 4) / 2][row];
}

// The state is the block's bytes in order: byte i is row i % 4 of column i / 4.
void SubBytes(uint8_t* s, int n, const std::array<uint8_t, 256>& box)
{
    for (int i = 0; i < n; ++i)
        s[i] = box[s[i]];
}

void ShiftRows(uint8_t* s, int nb, bool inverse)
{
    uint8_t row[AES::kMaxBlockSize / 4];
    for (int r = 1; r < 4; ++r) {
        const int shift = RowShift(nb, r);
        for (int c = 0; c < nb; ++c)
            row[c] = s[4 * c + r];
        for (int c = 0; c < nb; ++c) {
            const int from = inverse ? (c + nb - shift) % nb : (c + shift) % nb;
            s[4 * c + r] = row[from];
        }
    }
}

void MixColumns(uint8_t* s, int nb, bool inverse)
{
    // Coefficients of the column polynomial (and of its inverse).
    const uint8_t m0 = inverse ? 0x0E : 0x02;
    const uint8_t m1 = inverse ? 0x0B : 0x03;
    const uint8_t m2 = inverse ? 0x0D : 0x01;
    const uint8_t m3 = inverse ? 0x09 : 0x01;
    for (int c = 0; c < nb; ++c) {
        uint8_t* col = s + 4 * c;
        const uint8_t a[4] = {col[0], col[1], col[2], col[3]};
        for (int r = 0; r < 4; ++r) {
            col[r] = static_cast<uint8_t>(Multiply(a[r], m0) ^ Multiply(a[(r + 1) % 4], m1) ^
                                          Multiply(a[(r + 2) % 4], m2) ^ Multiply(a[(r + 3) % 4], m3));
        }
    }
}

void XorInto(uint8_t* target, const uint8_t* source, int n)
{
    for (int i = 0; i < n; ++i)
        target[i] ^= source[i];
}

} // namespace

bool AES::MakeKey(const uint8_t* key, const uint8_t* chain, int keyLength, int blockSize)
{
    const auto valid = [](int n) { return n == 16 || n == 24 || n == 32; };
    if (!key || !valid(keyLength) || !valid(blockSize))
        return false;
    const SBoxes& boxes = Boxes();
    const int nk = keyLength / 4;
    const int nb = blockSize / 4;
    rounds_ = (nk > nb ? nk : nb) + 6;
    blockSize_ = blockSize;

    // Expanded key: nb * (rounds + 1) words of 4 bytes, the first nk being the key itself.
    uint8_t* w = roundKeys_;
    const int words = nb * (rounds_ + 1);
    std::memcpy(w, key, keyLength);
    uint8_t rcon = 0x01;
    for (int i = nk; i < words; ++i) {
        uint8_t t[4];
        std::memcpy(t, w + 4 * (i - 1), 4);
        if (i % nk == 0) {
            const uint8_t first = t[0];
            t[0] = static_cast<uint8_t>(boxes.forward[t[1]] ^ rcon);
            t[1] = boxes.forward[t[2]];
            t[2] = boxes.forward[t[3]];
            t[3] = boxes.forward[first];
            rcon = XTime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            for (uint8_t& b : t)
                b = boxes.forward[b];
        }
        for (int j = 0; j < 4; ++j)
            w[4 * i + j] = static_cast<uint8_t>(w[4 * (i - nk) + j] ^ t[j]);
    }

    std::memset(chain0_, 0, sizeof chain0_);
    if (chain)
        std::memcpy(chain0_, chain, blockSize);
    ResetChain();
    return true;
}

void AES::ResetChain()
{
    std::memcpy(chain_, chain0_, sizeof chain_);
}

void AES::EncryptBlock(const uint8_t* in, uint8_t* out) const
{
    const SBoxes& boxes = Boxes();
    const int nb = blockSize_ / 4;
    uint8_t s[kMaxBlockSize];
    std::memcpy(s, in, blockSize_);
    XorInto(s, roundKeys_, blockSize_);
    for (int round = 1; round <= rounds_; ++round) {
        SubBytes(s, blockSize_, boxes.forward);
        ShiftRows(s, nb, false);
        if (round != rounds_)
            MixColumns(s, nb, false);
        XorInto(s, roundKeys_ + round * blockSize_, blockSize_);
    }
    std::memcpy(out, s, blockSize_);
}

void AES::DecryptBlock(const uint8_t* in, uint8_t* out) const
{
    const SBoxes& boxes = Boxes();
    const int nb = blockSize_ / 4;
    uint8_t s[kMaxBlockSize];
    std::memcpy(s, in, blockSize_);
    XorInto(s, roundKeys_ + rounds_ * blockSize_, blockSize_);
    for (int round = rounds_ - 1; round >= 0; --round) {
        ShiftRows(s, nb, true);
        SubBytes(s, blockSize_, boxes.inverse);
        XorInto(s, roundKeys_ + round * blockSize_, blockSize_);
        if (round != 0)
            MixColumns(s, nb, true);
    }
    std::memcpy(out, s, blockSize_);
}

bool AES::Usable(size_t length) const
{
    return blockSize_ != 0 && length % static_cast<size_t>(blockSize_) == 0;
}

bool AES::Encrypt(const uint8_t* in, uint8_t* out, size_t length, Mode mode)
{
    if (!Usable(length))
        return false;
    uint8_t block[kMaxBlockSize];
    for (size_t at = 0; at < length; at += blockSize_) {
        switch (mode) {
        case kECB:
            EncryptBlock(in + at, out + at);
            break;
        case kCBC:
            std::memcpy(block, in + at, blockSize_);
            XorInto(block, chain_, blockSize_);
            EncryptBlock(block, out + at);
            std::memcpy(chain_, out + at, blockSize_);
            break;
        case kCFB:
            EncryptBlock(chain_, block);
            XorInto(block, in + at, blockSize_);
            std::memcpy(out + at, block, blockSize_);
            std::memcpy(chain_, block, blockSize_);
            break;
        }
    }
    return true;
}

bool AES::Decrypt(const uint8_t* in, uint8_t* out, size_t length, Mode mode)
{
    if (!Usable(length))
        return false;
    uint8_t block[kMaxBlockSize];
    uint8_t cipher[kMaxBlockSize];
    for (size_t at = 0; at < length; at += blockSize_) {
        std::memcpy(cipher, in + at, blockSize_); // in and out may be one buffer
        switch (mode) {
        case kECB:
            DecryptBlock(cipher, out + at);
            break;
        case kCBC:
            DecryptBlock(cipher, block);
            XorInto(block, chain_, blockSize_);
            std::memcpy(out + at, block, blockSize_);
            std::memcpy(chain_, cipher, blockSize_);
            break;
        case kCFB:
            EncryptBlock(chain_, block);
            XorInto(block, cipher, blockSize_);
            std::memcpy(out + at, block, blockSize_);
            std::memcpy(chain_, cipher, blockSize_);
            break;
        }
    }
    return true;
}
