#include "avi_reader.h"

#include "riff.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kestro::avi {

namespace {

constexpr int kMaxStreams = 100;                    // chunk ids hold two hex digits; real files have a few
constexpr int kMaxListDepth = 8;                    // hdrl nesting is three deep; more is hostile
constexpr std::uint32_t kMaxHeaderChunk = 1u << 20; // strh/strf/indx/avih are small
constexpr std::int64_t kMaxSamples = std::numeric_limits<std::int32_t>::max() - 1;

struct Range {
    std::uint64_t begin = 0; // first byte of the list's children
    std::uint64_t end = 0;   // one past the last byte that belongs to the list
};

struct ChunkHeader {
    FOURCC id = 0;
    std::uint32_t size = 0;
    std::uint64_t offset = 0; // of the 8-byte header
    std::uint64_t dataEnd() const { return offset + 8 + size; }
    std::uint64_t next() const { return dataEnd() + (size & 1u); }
};

bool isDataChunkOf(FOURCC id, int stream)
{
    if (chunkStream(id) != stream)
        return false;
    const char a = static_cast<char>((id >> 16) & 0xFF);
    const char b = static_cast<char>((id >> 24) & 0xFF);
    // Index and palette-change chunks carry the stream number but are not samples.
    if ((a == 'i' && b == 'x') || (a == 'p' && b == 'c'))
        return false;
    return true;
}

} // namespace

struct AviReader::Parser {
    AviReader& r;
    const std::uint64_t fileSize;

    struct StreamHeaders {
        std::vector<std::uint8_t> strh;
        std::vector<std::uint8_t> strf;
        std::vector<std::uint8_t> indx;
        std::string name;
    };
    std::vector<StreamHeaders> headers;
    std::vector<Range> movis;     // first RIFF's movi, then each AVIX movi
    std::uint64_t moviFourcc = 0; // offset of the first movi list's type, base of relative idx1
    bool haveMovi = false;
    std::uint64_t idx1Offset = 0;
    std::uint32_t idx1Size = 0;

    Parser(AviReader& reader) : r(reader), fileSize(reader.m_file.size()) {}

    bool readHeader(std::uint64_t at, std::uint64_t limit, ChunkHeader& h) const
    {
        std::uint8_t b[8];
        if (at + 8 > limit || !r.m_file.readAt(at, b, 8))
            return false;
        h.id = le32(b);
        h.size = le32(b + 4);
        h.offset = at;
        return true;
    }

    // Reads a small chunk's data, clipped to its parent and to a sane maximum.
    std::vector<std::uint8_t> readSmall(const ChunkHeader& h, std::uint64_t limit) const
    {
        const std::uint64_t end = std::min<std::uint64_t>(h.dataEnd(), limit);
        std::uint64_t n = end > h.offset + 8 ? end - (h.offset + 8) : 0;
        n = std::min<std::uint64_t>(n, kMaxHeaderChunk);
        std::vector<std::uint8_t> data(static_cast<std::size_t>(n));
        if (n && !r.m_file.readAt(h.offset + 8, data.data(), data.size()))
            data.clear();
        return data;
    }

    void parseList(Range range, FOURCC listType, int depth)
    {
        if (depth > kMaxListDepth)
            return;
        std::uint64_t at = range.begin;
        ChunkHeader h;
        while (readHeader(at, range.end, h)) {
            if (h.id == fcc::LIST) {
                std::uint8_t t[4];
                if (h.offset + 12 > range.end || !r.m_file.readAt(h.offset + 8, t, 4))
                    return;
                const FOURCC type = le32(t);
                const Range inner{h.offset + 12, std::min(h.dataEnd(), range.end)};
                if (type == fcc::strl) {
                    if (headers.size() < kMaxStreams) {
                        headers.emplace_back();
                        parseList(inner, type, depth + 1);
                    }
                } else if (type == fcc::odml) {
                    parseList(inner, type, depth + 1);
                }
            } else if (h.id == fcc::avih && listType == fcc::hdrl) {
                const auto d = readSmall(h, range.end);
                if (d.size() >= 40) {
                    r.m_summary.microSecPerFrame = le32(d.data());
                    r.m_summary.avihTotalFrames = le32(d.data() + 16);
                    r.m_summary.avihWidth = le32(d.data() + 32);
                    r.m_summary.avihHeight = le32(d.data() + 36);
                }
            } else if (h.id == fcc::dmlh && listType == fcc::odml) {
                const auto d = readSmall(h, range.end);
                r.m_summary.openDml = true;
                if (d.size() >= 4)
                    r.m_summary.dmlhTotalFrames = le32(d.data());
            } else if (listType == fcc::strl && !headers.empty()) {
                StreamHeaders& s = headers.back();
                if (h.id == fcc::strh)
                    s.strh = readSmall(h, range.end);
                else if (h.id == fcc::strf)
                    s.strf = readSmall(h, range.end);
                else if (h.id == fcc::indx)
                    s.indx = readSmall(h, range.end);
                else if (h.id == fcc::strn) {
                    const auto d = readSmall(h, range.end);
                    s.name.assign(d.begin(), std::find(d.begin(), d.end(), 0));
                }
            }
            if (h.dataEnd() >= range.end)
                return;
            at = h.next();
        }
    }

    // Walks one RIFF's top level; returns where the RIFF ends.
    std::uint64_t parseRiff(std::uint64_t at, bool first)
    {
        ChunkHeader riff;
        readHeader(at, fileSize, riff);
        // A recorder that crashed never wrote the RIFF size: treat 0 (and sizes past the
        // end) as "up to the end of the file".
        std::uint64_t end = riff.size == 0 ? fileSize : std::min(riff.dataEnd(), fileSize);
        std::uint64_t pos = at + 12;
        ChunkHeader h;
        while (readHeader(pos, end, h)) {
            if (h.id == fcc::LIST) {
                std::uint8_t t[4];
                if (h.offset + 12 > end || !r.m_file.readAt(h.offset + 8, t, 4))
                    break;
                const FOURCC type = le32(t);
                std::uint64_t listEnd = h.size == 0 ? end : std::min(h.dataEnd(), end);
                if (type == fcc::hdrl && first) {
                    parseList({h.offset + 12, listEnd}, type, 1);
                } else if (type == fcc::movi) {
                    if (h.size < 4)
                        listEnd = end;
                    if (first && !haveMovi) {
                        haveMovi = true;
                        moviFourcc = h.offset + 8;
                    }
                    movis.push_back({h.offset + 12, listEnd});
                    if (listEnd >= end)
                        break;
                    pos = listEnd + ((listEnd - h.offset) & 1u);
                    continue;
                }
            } else if (h.id == fcc::idx1 && first) {
                idx1Offset = h.offset + 8;
                const std::uint64_t avail = std::min(h.dataEnd(), end) - idx1Offset;
                idx1Size = static_cast<std::uint32_t>(std::min<std::uint64_t>(h.size, avail));
                r.m_summary.hasIdx1 = true;
            }
            if (h.dataEnd() >= end)
                break;
            pos = h.next();
        }
        return end;
    }

    // Appends the chunks a super index describes. False when the index is unusable.
    bool fromOpenDml(const std::vector<std::uint8_t>& indx, SampleIndex& index) const
    {
        if (indx.size() < 24)
            return false;
        const std::uint16_t longsPerEntry = le16(indx.data());
        const std::uint8_t indexType = indx[3];
        const std::uint32_t inUse = le32(indx.data() + 4);
        if (indexType != kIndexOfIndexes || longsPerEntry != 4 || inUse == 0)
            return false;
        const std::size_t slots = (indx.size() - 24) / 16;
        const std::size_t n = std::min<std::size_t>(inUse, slots);
        std::uint64_t previousEnd = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* e = indx.data() + 24 + 16 * i;
            const std::uint64_t ixOffset = le64(e);
            // Standard indexes follow one another through the file; one that points back
            // (a self-reference or a loop) would repeat frames.
            if (ixOffset < previousEnd || ixOffset >= fileSize)
                break;
            ChunkHeader ix;
            if (!readHeader(ixOffset, fileSize, ix))
                break;
            std::uint8_t head[24];
            if (ix.size < 24 || !r.m_file.readAt(ixOffset + 8, head, sizeof head))
                break;
            const std::uint16_t entryLongs = le16(head);
            const std::uint8_t type = head[3];
            if (type != kIndexOfChunks || (entryLongs != 2 && entryLongs != 3))
                break;
            const std::uint64_t base = le64(head + 12);
            const std::uint64_t available = std::min(ix.dataEnd(), fileSize) - (ixOffset + 32);
            const std::uint64_t entryBytes = 4u * entryLongs;
            const std::uint64_t count = std::min<std::uint64_t>(le32(head + 4), available / entryBytes);
            if (static_cast<std::int64_t>(index.size() + count) > kMaxSamples)
                break;
            index.reserve(static_cast<std::size_t>(index.size()) + static_cast<std::size_t>(count));
            // Read in blocks, so that opening a long capture never holds the on-disk
            // index beside the one being built.
            constexpr std::uint64_t kBlockEntries = 4096;
            std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min(count, kBlockEntries) * entryBytes));
            bool readFailed = false;
            for (std::uint64_t first = 0; first < count && !readFailed; first += kBlockEntries) {
                const std::uint64_t n = std::min(kBlockEntries, count - first);
                if (!r.m_file.readAt(ixOffset + 32 + first * entryBytes, block.data(),
                                     static_cast<std::size_t>(n * entryBytes))) {
                    readFailed = true;
                    break;
                }
                for (std::uint64_t k = 0; k < n; ++k) {
                    const std::uint8_t* p = block.data() + k * entryBytes;
                    const std::uint64_t offset = base + le32(p);
                    const std::uint32_t rawSize = le32(p + 4);
                    const std::uint32_t size = rawSize & ~kOdmlDeltaFrame;
                    appendChecked(index, offset, size, (rawSize & kOdmlDeltaFrame) == 0);
                }
            }
            if (readFailed)
                break;
            previousEnd = ix.dataEnd();
        }
        return !index.empty();
    }

    // Entries whose bytes are not all inside the file become samples without data, so
    // numbering stays as the index has it; trailing ones (a truncated file) are dropped
    // by trimTail.
    void appendChecked(SampleIndex& index, std::uint64_t offset, std::uint32_t size, bool key) const
    {
        if (offset < 8 || offset > fileSize || size > fileSize - offset)
            index.append(0, 0, false);
        else
            index.append(offset, size, key);
    }

    // False, with *pDisagrees set, when the index points outside movi or at chunks that are not
    // there: a recorder that got its offsets wrong. Its entries would turn whole frames into
    // dropped ones, so the caller walks movi instead.
    bool fromIdx1(int streamNo, SampleIndex& index, bool* pDisagrees) const
    {
        if (!haveMovi || idx1Size < 16)
            return false;
        const std::size_t n = idx1Size / 16;
        // Read in blocks, so that opening a long capture never holds the on-disk index
        // beside the one being built.
        constexpr std::size_t kBlockEntries = 4096;
        std::vector<std::uint8_t> block(std::min(n, kBlockEntries) * 16);
        const Range& movi = movis.front();
        index.reserve(n); // at most; what other streams' entries leave over is given back by finish()
        std::uint64_t base = 0;
        bool baseKnown = false;
        std::uint64_t lastHeader = 0;
        FOURCC lastId = 0;
        std::uint32_t lastSize = 0;
        for (std::size_t first = 0; first < n; first += kBlockEntries) {
            const std::size_t count = std::min(kBlockEntries, n - first);
            if (!r.m_file.readAt(idx1Offset + first * 16, block.data(), count * 16))
                return !index.empty();
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t* e = block.data() + 16 * i;
                const FOURCC id = le32(e);
                const std::uint32_t flags = le32(e + 4);
                if (flags & kIdx1List)
                    continue;
                if (!baseKnown) {
                    // Offsets count from the movi list's type code in most files and from
                    // the start of the file in some; the first entry's chunk tells which.
                    for (std::uint64_t candidate : {moviFourcc, std::uint64_t{0}}) {
                        std::uint8_t b[4];
                        if (r.m_file.readAt(candidate + le32(e + 8), b, 4) && le32(b) == id) {
                            base = candidate;
                            baseKnown = true;
                            break;
                        }
                    }
                    if (!baseKnown) {
                        *pDisagrees = true;
                        return false;
                    }
                }
                if (!isDataChunkOf(id, streamNo))
                    continue;
                const std::uint64_t header = base + le32(e + 8);
                const std::uint32_t size = le32(e + 12);
                // Entries follow their chunks through movi; one that points back at or before the
                // previous one serves some frame twice and loses another.
                if (header < movi.begin || header + 8 > movi.end || size > movi.end - (header + 8) ||
                    (!index.empty() && header <= lastHeader)) {
                    *pDisagrees = true;
                    return false;
                }
                index.append(header + 8, size, (flags & kIdx1KeyFrame) != 0);
                lastHeader = header;
                lastId = id;
                lastSize = size;
            }
        }
        // The first entry was checked against its chunk above; checking the last one too costs
        // one read and catches an index whose offsets drift through the file.
        if (!index.empty()) {
            ChunkHeader h;
            if (!readHeader(lastHeader, movi.end, h) || h.id != lastId || h.size != lastSize) {
                *pDisagrees = true;
                return false;
            }
        }
        return !index.empty();
    }

    static void trimTail(SampleIndex& index)
    {
        std::int32_t n = index.size();
        while (n > 0 && index[n - 1].size == 0 && index[n - 1].offset == 0)
            --n;
        index.truncate(n);
    }

    // Walks the movi lists from `from` on, appending whole data chunks of each stream
    // that begin after that stream's `after` offset.
    void scanMovi(std::uint64_t from, const std::vector<std::uint64_t>& after, std::vector<StreamData*>& streams) const
    {
        std::int64_t total = 0;
        for (StreamData* s : streams)
            total += s->index.size();
        for (const Range& movi : movis) {
            if (movi.end <= from)
                continue;
            std::uint64_t pos = std::max(from, movi.begin);
            ChunkHeader h;
            while (readHeader(pos, movi.end, h)) {
                if (h.id == fcc::LIST) {
                    std::uint8_t t[4];
                    if (!r.m_file.readAt(h.offset + 8, t, 4) || h.size < 4)
                        break;
                    // Chunks of a 'rec ' list are walked as if they stood in movi itself.
                    if (le32(t) == fcc::rec_) {
                        pos = h.offset + 12;
                        continue;
                    }
                } else if (h.dataEnd() <= movi.end) {
                    const int s = chunkStream(h.id);
                    if (s >= 0 && s < static_cast<int>(streams.size()) && isDataChunkOf(h.id, s) &&
                        h.offset >= after[static_cast<std::size_t>(s)] && total < kMaxSamples) {
                        streams[static_cast<std::size_t>(s)]->index.append(h.offset + 8, h.size, true);
                        ++streams[static_cast<std::size_t>(s)]->scannedSamples;
                        ++total;
                    }
                }
                // A chunk that runs past its list is a frame cut short by a crash: only
                // whole frames are served.
                if (h.dataEnd() > movi.end)
                    break;
                pos = h.next();
            }
        }
    }

    HRESULT run(std::string& why)
    {
        std::uint8_t head[12];
        if (fileSize == 0) {
            why = "the file is empty";
            return AVIERR_BADFORMAT;
        }
        if (fileSize < 12 || !r.m_file.readAt(0, head, 12) || le32(head) != fcc::RIFF) {
            why = "not an AVI file";
            return AVIERR_BADFORMAT;
        }
        if (le32(head + 8) != fcc::AVI_) {
            // Name what it is instead, when it says so in letters (a WAVE file, say).
            std::string type(reinterpret_cast<const char*>(head + 8), 4);
            const bool printable = std::all_of(type.begin(), type.end(), [](char c) { return c >= ' ' && c <= '~'; });
            why = printable ? "not an AVI file (a RIFF '" + type + "' file)" : "not an AVI file";
            return AVIERR_BADFORMAT;
        }

        std::uint64_t pos = parseRiff(0, true);
        r.m_summary.riffCount = 1;
        // AVIX continuations follow the first RIFF (OpenDML).
        while (pos + 12 <= fileSize) {
            pos += pos & 1u;
            if (!r.m_file.readAt(pos, head, 12) || le32(head) != fcc::RIFF || le32(head + 8) != fcc::AVIX)
                break;
            r.m_summary.openDml = true;
            ++r.m_summary.riffCount;
            const std::uint64_t end = parseRiff(pos, false);
            if (end <= pos)
                break;
            pos = end;
        }
        // A recorder that crashed before its first frame, or a copy cut short, ends before its
        // stream headers are complete.
        ChunkHeader riff;
        r.m_summary.headersCut = !haveMovi && readHeader(0, fileSize, riff) && riff.dataEnd() > fileSize;
        if (headers.empty()) {
            why =
                r.m_summary.headersCut || !haveMovi ? "the file ends inside its headers" : "it holds no stream headers";
            return AVIERR_BADFORMAT;
        }

        std::vector<StreamData*> streams;
        for (std::size_t i = 0; i < headers.size(); ++i) {
            auto s = std::make_unique<StreamData>();
            s->number = static_cast<int>(i);
            fillInfo(headers[i], s->info);
            s->promisedSamples = s->info.dwLength;
            s->format = std::move(headers[i].strf);
            streams.push_back(s.get());
            r.m_streams.push_back(std::move(s));
        }

        std::vector<std::uint64_t> after(streams.size(), 0);
        bool anyIndexed = false;
        bool idx1Disagrees = false;
        std::uint64_t resume = std::numeric_limits<std::uint64_t>::max();
        for (StreamData* s : streams) {
            const auto& indx = headers[static_cast<std::size_t>(s->number)].indx;
            if (fromOpenDml(indx, s->index)) {
                s->indexSource = IndexSource::OpenDml;
            } else {
                s->index.clear();
                if (fromIdx1(s->number, s->index, &idx1Disagrees))
                    s->indexSource = IndexSource::Idx1;
                else
                    s->index.clear();
            }
            s->promisedSamples = std::max<std::int64_t>(s->promisedSamples, s->index.size());
            trimTail(s->index);
            if (!s->index.empty()) {
                anyIndexed = true;
                std::uint64_t lastData = 0;
                for (std::int32_t i = 0; i < s->index.size(); ++i)
                    lastData = std::max(lastData, s->index[i].offset);
                after[static_cast<std::size_t>(s->number)] = lastData;
                resume = std::min(resume, lastData - 8); // its chunk header
            }
        }
        // Frames behind the last index entry (a recorder that crashed before writing its
        // index, or before indexing its last RIFF) are found by walking movi.
        // An index that disagrees with movi is not trusted for any of its frames: movi is walked
        // from its start, as for a file without an index.
        scanMovi(anyIndexed && !idx1Disagrees ? resume : 0, after, streams);
        for (StreamData* s : streams) {
            if (s->indexSource == IndexSource::None && s->scannedSamples > 0)
                s->indexSource = IndexSource::Scan;
            s->index.finish();
            finishInfo(*s);
        }
        return AVIERR_OK;
    }

    static void fillInfo(const StreamHeaders& h, AVISTREAMINFOA& info)
    {
        info = {};
        const auto& d = h.strh;
        auto at32 = [&](std::size_t o) -> std::uint32_t { return d.size() >= o + 4 ? le32(d.data() + o) : 0; };
        auto at16 = [&](std::size_t o) -> std::uint16_t { return d.size() >= o + 2 ? le16(d.data() + o) : 0; };
        info.fccType = at32(0);
        info.fccHandler = at32(4);
        info.dwFlags = at32(8);
        info.wPriority = at16(12);
        info.wLanguage = at16(14);
        info.dwInitialFrames = at32(16);
        info.dwScale = at32(20);
        info.dwRate = at32(24);
        info.dwStart = at32(28);
        info.dwLength = at32(32);
        info.dwSuggestedBufferSize = at32(36);
        info.dwQuality = at32(40);
        info.dwSampleSize = at32(44);
        info.rcFrame.left = static_cast<std::int16_t>(at16(48));
        info.rcFrame.top = static_cast<std::int16_t>(at16(50));
        info.rcFrame.right = static_cast<std::int16_t>(at16(52));
        info.rcFrame.bottom = static_cast<std::int16_t>(at16(54));
        const std::size_t n = std::min(h.name.size(), sizeof info.szName - 1);
        std::memcpy(info.szName, h.name.data(), n);
    }

    // The served header describes the samples as indexed: the length is what can be
    // reached (the headers' own counts are unreliable after a crash, and avih counts
    // only the first RIFF), and the suggested buffer size is the largest sample, so a
    // caller sizing its buffer by it never falls short nor allocates by a hostile value.
    static void finishInfo(StreamData& s)
    {
        const auto length = static_cast<std::uint32_t>(s.index.size());
        s.info.dwLength = length;
        if (s.info.dwStart > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) - length)
            s.info.dwStart = 0;
        s.info.dwSuggestedBufferSize = s.index.largestSample();
    }
};

HRESULT AviReader::open(const std::string& path, std::unique_ptr<AviReader>& out, std::string* pWhy)
{
    out.reset();
    std::unique_ptr<AviReader> reader(new AviReader());
    std::string why;
    if (!reader->m_file.open(path, &why)) {
        if (pWhy)
            *pWhy = why;
        return AVIERR_FILEOPEN;
    }
    Parser parser(*reader);
    const HRESULT hr = parser.run(why);
    if (hr != AVIERR_OK) {
        if (pWhy)
            *pWhy = why;
        return hr;
    }
    out = std::move(reader);
    return AVIERR_OK;
}

HRESULT AviReader::read(const SampleEntry& entry, void* buffer) const
{
    if (entry.size == 0)
        return AVIERR_OK;
    return m_file.readAt(entry.offset, buffer, entry.size) ? AVIERR_OK : AVIERR_FILEREAD;
}

HRESULT AviReader::readPart(const SampleEntry& entry, std::uint32_t from, std::uint32_t rowBytes, std::uint32_t n,
                            std::uint8_t* firstRow, std::int64_t stride) const
{
    if (n == 0)
        return AVIERR_OK;
    return m_file.readRowsAt(entry.offset + from, rowBytes, n, firstRow, stride) ? AVIERR_OK : AVIERR_FILEREAD;
}

} // namespace kestro::avi
