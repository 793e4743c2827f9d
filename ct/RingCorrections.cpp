#include "RingCorrections.h"

namespace {

bool same(const RingCorrections::Key &a, const RingCorrections::Key &b)
{
    return a.sequence == b.sequence && a.slice == b.slice && a.width == b.width &&
           a.window == b.window;
}

} // namespace

std::optional<std::vector<double>> RingCorrections::find(const Key &key) const
{
    const std::lock_guard<std::mutex> lock(mutex);
    const auto it = bySlice.find(key.slice);
    if (it == bySlice.end() || !same(it->second.key, key))
        return std::nullopt;
    return it->second.correction;
}

void RingCorrections::keep(const Key &key, std::vector<double> correction)
{
    const std::lock_guard<std::mutex> lock(mutex);
    // A new sequence replaces the slices of the one before as they come.
    bySlice[key.slice] = Entry{key, std::move(correction)};
}
