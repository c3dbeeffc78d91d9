#include "ShadowRegistry.h"

ShadowRegistry& ShadowRegistry::Instance()
{
    static ShadowRegistry registry;
    return registry;
}

void ShadowRegistry::Add(const QObject* window, CWndShadow* shadow)
{
    const std::lock_guard lock(mutex_);
    shadows_[window] = shadow;
}

bool ShadowRegistry::Remove(const QObject* window, const CWndShadow* shadow)
{
    const std::lock_guard lock(mutex_);
    const auto it = shadows_.find(window);
    if (it == shadows_.end() || it->second != shadow)
        return false;
    shadows_.erase(it);
    return true;
}

CWndShadow* ShadowRegistry::Find(const QObject* window) const
{
    const std::lock_guard lock(mutex_);
    const auto it = shadows_.find(window);
    return it == shadows_.end() ? nullptr : it->second;
}

std::size_t ShadowRegistry::Size() const
{
    const std::lock_guard lock(mutex_);
    return shadows_.size();
}
