#include "sample_index.h"

#include <algorithm>

namespace kestro::avi {

void SampleIndex::append(std::uint64_t offset, std::uint32_t size, bool key)
{
    m_entries.push_back({offset, size, key ? 1u : 0u});
}

void SampleIndex::clear()
{
    m_entries.clear();
    m_empty.clear();
    m_keys.clear();
    m_allKeys = true;
    m_largest = 0;
}

void SampleIndex::finish()
{
    m_empty.clear();
    m_keys.clear();
    m_allKeys = true;
    m_largest = 0;
    const auto n = static_cast<std::int32_t>(m_entries.size());
    for (std::int32_t i = 0; i < n; ++i) {
        const SampleEntry& e = m_entries[static_cast<std::size_t>(i)];
        if (e.size == 0)
            m_empty.push_back(i);
        else if (!e.key)
            m_allKeys = false;
        m_largest = std::max(m_largest, e.size);
    }
    if (!m_allKeys) {
        for (std::int32_t i = 0; i < n; ++i) {
            const SampleEntry& e = m_entries[static_cast<std::size_t>(i)];
            if (e.size != 0 && e.key)
                m_keys.push_back(i);
        }
    }
    // Growth and generous reservations leave slack; a long capture keeps its index for as
    // long as it is open, so give the slack back.
    if (m_entries.capacity() - m_entries.size() > m_entries.size() / 8)
        m_entries.shrink_to_fit();
    m_empty.shrink_to_fit();
    m_keys.shrink_to_fit();
}

std::int32_t SampleIndex::findData(std::int32_t i, bool forward) const
{
    const std::int32_t n = size();
    if (i < 0 || i >= n)
        return -1;
    auto it = std::lower_bound(m_empty.begin(), m_empty.end(), i);
    if (it == m_empty.end() || *it != i)
        return i;
    // i starts or sits inside a run of consecutive empty samples. Along the sorted
    // list, value minus list position never decreases and is constant within a run,
    // so both ends of the run are found by binary search.
    const auto k = static_cast<std::size_t>(it - m_empty.begin());
    const std::int64_t delta = static_cast<std::int64_t>(i) - static_cast<std::int64_t>(k);
    auto key = [&](std::size_t j) { return static_cast<std::int64_t>(m_empty[j]) - static_cast<std::int64_t>(j); };
    if (forward) {
        std::size_t lo = k, hi = m_empty.size(); // first j in [k, size) with key(j) > delta
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (key(mid) > delta)
                hi = mid;
            else
                lo = mid + 1;
        }
        const std::int32_t last = m_empty[lo - 1];
        return last + 1 < n ? last + 1 : -1;
    }
    std::size_t lo = 0, hi = k; // first j in [0, k] with key(j) == delta
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (key(mid) < delta)
            lo = mid + 1;
        else
            hi = mid;
    }
    return m_empty[lo] - 1; // -1 when the run reaches index 0
}

std::int32_t SampleIndex::findKey(std::int32_t i, bool forward) const
{
    const std::int32_t n = size();
    if (i < 0 || i >= n)
        return -1;
    if (m_allKeys)
        return findData(i, forward);
    if (forward) {
        auto it = std::lower_bound(m_keys.begin(), m_keys.end(), i);
        return it == m_keys.end() ? -1 : *it;
    }
    auto it = std::upper_bound(m_keys.begin(), m_keys.end(), i);
    return it == m_keys.begin() ? -1 : *(it - 1);
}

std::size_t SampleIndex::memoryBytes() const
{
    return m_entries.capacity() * sizeof(SampleEntry) + (m_empty.capacity() + m_keys.capacity()) * sizeof(std::int32_t);
}

} // namespace kestro::avi
