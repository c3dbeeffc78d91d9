#include "EchoReference.h"

#include <algorithm>

namespace {

size_t Slot(int64_t pos)
{
    const int64_t m = pos % EchoReference::kCapacity;
    return static_cast<size_t>(m < 0 ? m + EchoReference::kCapacity : m);
}

} // namespace

EchoReference::EchoReference() : ring_(kCapacity, 0.0f) {}

void EchoReference::Write(int64_t pos, const float* samples, int count)
{
    if (count <= 0)
        return;
    {
        std::unique_lock<std::mutex> guard(lock_);
        // Only the last kCapacity samples can be held.
        if (count > kCapacity) {
            samples += count - kCapacity;
            pos += count - kCapacity;
            count = kCapacity;
        }
        const int64_t end = pos + count;
        if (endPos_ != kNoPosition && end <= endPos_ - kCapacity)
            return; // older than anything the store holds
        auto clear = [&](int64_t from, int64_t to) { // what lies between two writes is silence
            for (int64_t p = std::max(from, to - kCapacity); p < to; ++p)
                ring_[Slot(p)] = 0.0f;
        };
        if (endPos_ == kNoPosition) {
            startPos_ = pos;
            endPos_ = end;
        } else {
            if (pos > endPos_)
                clear(endPos_, pos);
            if (end < startPos_)
                clear(end, startPos_);
            startPos_ = std::min(startPos_, pos);
            endPos_ = std::max(endPos_, end);
        }
        for (int i = 0; i < count; ++i)
            ring_[Slot(pos + i)] = samples[i];
        startPos_ = std::max(startPos_, endPos_ - kCapacity);
    }
    written_.notify_all();
}

bool EchoReference::WaitFor(int64_t endPos, std::chrono::milliseconds bound)
{
    std::unique_lock<std::mutex> lock(lock_);
    const auto there = [&] { return endPos_ != kNoPosition && endPos_ >= endPos; };
    if (there()) {
        late_ = false;
        return true;
    }
    if (late_)
        return false;
    if (written_.wait_for(lock, bound, there))
        return true;
    late_ = true;
    return false;
}

void EchoReference::Read(int64_t pos, int count, float* out) const
{
    std::lock_guard<std::mutex> guard(lock_);
    for (int i = 0; i < count; ++i) {
        const int64_t p = pos + i;
        out[i] = endPos_ != kNoPosition && p >= startPos_ && p < endPos_ ? ring_[Slot(p)] : 0.0f;
    }
}

int64_t EchoReference::EndPos() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return endPos_;
}
