#pragma once
// Which CWndShadow is attached to which window. Every thread that owns windows attaches and
// removes its shadows here; each operation takes the one lock, so concurrent use is safe.
// A pointer returned by Find stays valid only on the thread that owns the window (that thread
// alone attaches and removes the window's shadow).

#include <cstddef>
#include <map>
#include <mutex>

class CWndShadow;
class QObject;

class ShadowRegistry {
public:
    static ShadowRegistry& Instance();

    // Enters shadow under window, replacing an earlier entry for the same window.
    void Add(const QObject* window, CWndShadow* shadow);
    // Removes the entry of window when it is shadow; false otherwise.
    bool Remove(const QObject* window, const CWndShadow* shadow);
    // The shadow attached to window, or nullptr.
    CWndShadow* Find(const QObject* window) const;
    std::size_t Size() const;

private:
    mutable std::mutex mutex_; // guards shadows_
    std::map<const QObject*, CWndShadow*> shadows_;
};
