// The per-stream sample index: where each sample's bytes lie and which samples are key
// frames. Kept compact (16 bytes a sample) because captures run to millions of frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestro::avi {

struct SampleEntry {
    std::uint64_t offset; // file offset of the sample's first byte (after the chunk header)
    std::uint32_t size;   // bytes of data; 0 for a sample without data (a dropped frame)
    std::uint32_t key;    // 1 for a key frame
};
static_assert(sizeof(SampleEntry) == 16);

class SampleIndex {
public:
    void reserve(std::size_t n) { m_entries.reserve(n); }
    void append(std::uint64_t offset, std::uint32_t size, bool key);
    void clear();
    // Keeps the first n entries (n no more than size()).
    void truncate(std::int32_t n) { m_entries.resize(static_cast<std::size_t>(n)); }
    // Builds the lookup tables for the searches; call once after the last append.
    void finish();

    std::int32_t size() const { return static_cast<std::int32_t>(m_entries.size()); }
    bool empty() const { return m_entries.empty(); }
    const SampleEntry& operator[](std::int32_t i) const { return m_entries[static_cast<std::size_t>(i)]; }
    std::uint32_t largestSample() const { return m_largest; }

    // Nearest index at or after (forward) or at or before (!forward) i whose sample
    // holds data (or, with keyOnly, is a key frame that holds data); -1 when none.
    std::int32_t findData(std::int32_t i, bool forward) const;
    std::int32_t findKey(std::int32_t i, bool forward) const;

    std::size_t memoryBytes() const;

private:
    std::vector<SampleEntry> m_entries;
    // Sorted indices of samples without data: rare in real captures, so searches cost
    // a binary search instead of a walk over runs of dropped frames.
    std::vector<std::int32_t> m_empty;
    // Sorted indices of key frames that hold data, kept only when not every sample with
    // data is one (intra-frame captures need no table).
    std::vector<std::int32_t> m_keys;
    bool m_allKeys = true;
    std::uint32_t m_largest = 0;
};

} // namespace kestro::avi
