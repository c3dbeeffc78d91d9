// The registry of shadows, used by every thread that owns windows.

#include "CWndShadow.h"
#include "ShadowRegistry.h"

#include <QObject>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

namespace {

TEST(ShadowRegistryTest, RemovesOnlyItsOwnEntry)
{
    ShadowRegistry& registry = ShadowRegistry::Instance();
    QObject window;
    CWndShadow first;
    CWndShadow second;
    registry.Add(&window, &first);
    EXPECT_EQ(registry.Find(&window), &first);
    registry.Add(&window, &second); // attached again: the newer shadow wins
    EXPECT_EQ(registry.Find(&window), &second);
    EXPECT_FALSE(registry.Remove(&window, &first));
    EXPECT_EQ(registry.Find(&window), &second);
    EXPECT_TRUE(registry.Remove(&window, &second));
    EXPECT_EQ(registry.Find(&window), nullptr);
    EXPECT_FALSE(registry.Remove(&window, &second));
}

TEST(ShadowRegistryTest, TwoThreadsAttachingAndRemovingConcurrently)
{
    constexpr int kWindowsPerThread = 32;
    constexpr int kRounds = 400;
    ShadowRegistry& registry = ShadowRegistry::Instance();
    const std::size_t sizeBefore = registry.Size();
    // Window identities only; the registry never looks inside them.
    std::array<QObject, 2 * kWindowsPerThread> windows;
    std::array<CWndShadow, 2> shadows;
    std::atomic<int> failures{0};

    auto worker = [&](int thread) {
        // A thread owning windows kWindowsPerThread·thread onwards; shares the registry only
        // (under its lock), reads the other thread's entries without owning them.
        CWndShadow* own = &shadows[static_cast<std::size_t>(thread)];
        const CWndShadow* other = &shadows[static_cast<std::size_t>(1 - thread)];
        for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < kWindowsPerThread; ++i) {
                const QObject* window = &windows[static_cast<std::size_t>(thread * kWindowsPerThread + i)];
                const QObject* foreign = &windows[static_cast<std::size_t>((1 - thread) * kWindowsPerThread + i)];
                registry.Add(window, own);
                if (registry.Find(window) != own)
                    ++failures;
                const CWndShadow* seen = registry.Find(foreign);
                if (seen != nullptr && seen != other)
                    ++failures;
                if (registry.Remove(foreign, own)) // never this thread's entry
                    ++failures;
            }
            for (int i = 0; i < kWindowsPerThread; ++i) {
                if (!registry.Remove(&windows[static_cast<std::size_t>(thread * kWindowsPerThread + i)], own))
                    ++failures;
            }
        }
    };
    std::thread first(worker, 0);
    std::thread second(worker, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(registry.Size(), sizeBefore);
}

} // namespace
