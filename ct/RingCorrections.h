#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <vector>

// The ring-removal column corrections of a run over the sets of a data directory,
// slice by slice, shared by the engines: the first set's run estimates a slice's
// correction, the runs on the other sets apply the same one (see
// RingRemoval::columnCorrection). Entries of another sequence, width or window are
// estimated anew. Any engine thread may call it.
//
// Tested in tests/ct/tst_RingRemoval.cpp.
class RingCorrections
{
public:
    struct Key
    {
        int sequence;
        int slice;
        int width;
        int window;
    };
    std::optional<std::vector<double>> find(const Key &key) const;
    void keep(const Key &key, std::vector<double> correction);

private:
    struct Entry
    {
        Key key;
        std::vector<double> correction;
    };
    mutable std::mutex mutex;
    std::map<int, Entry> bySlice;
};
