#include "avi_writer.h"

#include "riff.h"

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstring>
#include <limits>

namespace kestro::avi {

namespace {

// The odml extended header is conventionally written at this size so that later
// fields can be added in place.
constexpr std::uint32_t kDmlhSize = 248;
// One super-index slot per RIFF; readers expect the slots reserved up front because
// the header cannot grow once movi follows it.
constexpr std::size_t kSuperIndexSlots = 256;
constexpr std::uint32_t kIndexHeaderSize = 24; // indx and ix## bodies before their entries
constexpr std::uint32_t kSuperIndexEntrySize = 16;
constexpr std::uint32_t kStdIndexEntrySize = 8;
constexpr std::uint32_t kIdx1EntrySize = 16;
// movi starts on a page boundary: sample data then shares pages with as few header
// bytes as possible, and a late setFormat has some room to grow into.
constexpr std::uint64_t kMoviAlignment = 4096;
constexpr std::uint32_t kAvifHasIndex = 0x10;
// A standard index entry keeps the key flag in bit 31 of the size.
constexpr std::uint32_t kMaxSampleSize = kOdmlDeltaFrame - 1;
constexpr std::size_t kMaxStreams = 256; // two hex digits in the chunk ids
constexpr FOURCC kTextStream = mmioFOURCC('t', 'x', 't', 's');

// Appends little-endian fields to a byte vector; chunks are opened and closed so that
// their sizes are patched in place instead of computed up front.
class Bytes {
public:
    explicit Bytes(std::vector<std::uint8_t>& out) : m_out(out) {}

    void u8(std::uint8_t v) { m_out.push_back(v); }
    void u16(std::uint16_t v) { putLe16(grow(2), v); }
    void u32(std::uint32_t v) { putLe32(grow(4), v); }
    void u64(std::uint64_t v) { putLe64(grow(8), v); }
    void raw(const void* data, std::size_t n)
    {
        if (n > 0)
            std::memcpy(grow(n), data, n);
    }
    void zeros(std::size_t n) { m_out.resize(m_out.size() + n, 0); }

    // Returns where the chunk's data starts, for close().
    std::size_t openChunk(FOURCC id)
    {
        u32(id);
        u32(0);
        return m_out.size();
    }
    std::size_t openList(FOURCC type)
    {
        const std::size_t start = openChunk(fcc::LIST);
        u32(type);
        return start;
    }
    void close(std::size_t dataStart)
    {
        const std::size_t size = m_out.size() - dataStart;
        putLe32(m_out.data() + dataStart - 4, static_cast<std::uint32_t>(size));
        if (size & 1)
            u8(0);
    }

private:
    std::uint8_t* grow(std::size_t n)
    {
        m_out.resize(m_out.size() + n);
        return m_out.data() + m_out.size() - n;
    }

    std::vector<std::uint8_t>& m_out;
};

std::int16_t clampShort(std::int32_t v)
{
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, std::numeric_limits<std::int16_t>::min(),
                                                              std::numeric_limits<std::int16_t>::max()));
}

} // namespace

struct AviWriter::Impl {
    struct SuperIndexEntry {
        std::uint64_t offset;
        std::uint32_t size;
        std::uint32_t duration;
    };

    struct Stream {
        AVISTREAMINFOA info{};
        std::vector<std::uint8_t> format;
        FOURCC chunkId = 0; // fixed by the stream's first sample
        std::int64_t length = 0;
        std::int64_t firstRiffLength = 0;
        std::uint32_t largestChunk = 0;
        // ix## entries (offset, size) of the RIFF being written.
        std::vector<std::uint32_t> riffEntries;
        std::vector<SuperIndexEntry> superIndex;
        // Where each sample's chunk ends in the file, to tell which samples a failed write lost.
        std::vector<std::uint64_t> chunkEnds;
    };

    OutputFile file;
    std::vector<Stream> streams;
    bool laidOut = false;
    bool finished = false;
    bool refused = false; // a sample was refused for lack of index room
    HRESULT result = AVIERR_OK;

    std::uint64_t headerEnd = 0; // where the first RIFF's movi LIST starts
    int riffCount = 0;
    std::uint64_t riffStart = 0;
    std::uint64_t moviStart = 0; // the current RIFF's 'LIST' of movi
    std::uint64_t riffChunks = 0;
    std::uint64_t pendingIndexBytes = 0; // ix## chunks the current RIFF will end with
    std::vector<std::uint8_t> idx1;

    // The stream that avih and dmlh describe: the first video stream, else stream 0.
    const Stream* mainStream() const
    {
        for (const Stream& s : streams)
            if (s.info.fccType == fcc::vids)
                return &s;
        return streams.empty() ? nullptr : &streams.front();
    }

    static FOURCC chunkIdFor(const Stream& s, int n)
    {
        if (s.info.fccType == fcc::vids) {
            // Uncompressed frames ('db') are told apart from compressed ones ('dc') by
            // biCompression; a stream without a format yet counts as uncompressed.
            constexpr std::size_t kCompressionOffset = 16;
            if (s.format.size() < kCompressionOffset + 4)
                return chunkId(n, 'd', 'b');
            const std::uint32_t compression = le32(s.format.data() + kCompressionOffset);
            return (compression == BI_RGB || compression == BI_BITFIELDS) ? chunkId(n, 'd', 'b') : chunkId(n, 'd', 'c');
        }
        if (s.info.fccType == fcc::auds)
            return chunkId(n, 'w', 'b');
        if (s.info.fccType == kTextStream)
            return chunkId(n, 't', 'x');
        return chunkId(n, 'd', 'c');
    }

    // The frame size for avih and strh: rcFrame when the caller filled it in, else the
    // bitmap header, which is what players show anyway.
    static void frameSize(const Stream& s, std::int32_t& width, std::int32_t& height)
    {
        const RECT& r = s.info.rcFrame;
        auto extent = [](std::int64_t from, std::int64_t to) {
            return static_cast<std::int32_t>(std::clamp<std::int64_t>(to - from, 0, INT32_MAX));
        };
        width = extent(r.left, r.right);
        height = extent(r.top, r.bottom);
        const bool haveBitmap = s.info.fccType == fcc::vids && s.format.size() >= sizeof(BITMAPINFOHEADER);
        if ((width == 0 || height == 0) && haveBitmap) {
            width = extent(0, static_cast<std::int32_t>(le32(s.format.data() + 4)));
            // A negative height marks top-down rows.
            const auto h = static_cast<std::int32_t>(le32(s.format.data() + 8));
            height = h < 0 ? extent(h, 0) : h;
        }
    }

    // hdrl and odml LISTs with the current counts; the JUNK filler is added by the caller.
    std::vector<std::uint8_t> headerLists() const
    {
        std::vector<std::uint8_t> out;
        Bytes b(out);
        const Stream* main = mainStream();

        const std::size_t hdrl = b.openList(fcc::hdrl);
        const std::size_t avih = b.openChunk(fcc::avih);
        std::uint32_t usPerFrame = 0;
        std::int32_t width = 0;
        std::int32_t height = 0;
        if (main) {
            if (main->info.dwRate != 0) {
                const std::uint64_t us =
                    (std::uint64_t{main->info.dwScale} * 1000000u + main->info.dwRate / 2) / main->info.dwRate;
                usPerFrame = static_cast<std::uint32_t>(std::min<std::uint64_t>(us, UINT32_MAX));
            }
            frameSize(*main, width, height);
        }
        std::uint32_t largest = 0;
        for (const Stream& s : streams)
            largest = std::max({largest, s.largestChunk, s.info.dwSuggestedBufferSize});
        b.u32(usPerFrame);
        b.u32(0); // dwMaxBytesPerSec
        b.u32(0); // dwPaddingGranularity
        b.u32(kAvifHasIndex);
        b.u32(main ? static_cast<std::uint32_t>(main->firstRiffLength) : 0);
        b.u32(main ? main->info.dwInitialFrames : 0);
        b.u32(static_cast<std::uint32_t>(streams.size()));
        b.u32(largest);
        b.u32(static_cast<std::uint32_t>(width));
        b.u32(static_cast<std::uint32_t>(height));
        b.zeros(16); // dwReserved
        b.close(avih);

        for (std::size_t n = 0; n < streams.size(); ++n) {
            const Stream& s = streams[n];
            const std::size_t strl = b.openList(fcc::strl);

            const std::size_t strh = b.openChunk(fcc::strh);
            b.u32(s.info.fccType);
            b.u32(s.info.fccHandler);
            b.u32(s.info.dwFlags);
            b.u16(s.info.wPriority);
            b.u16(s.info.wLanguage);
            b.u32(s.info.dwInitialFrames);
            b.u32(s.info.dwScale);
            b.u32(s.info.dwRate);
            b.u32(s.info.dwStart);
            b.u32(static_cast<std::uint32_t>(s.length));
            b.u32(std::max(s.largestChunk, s.info.dwSuggestedBufferSize));
            b.u32(s.info.dwQuality);
            b.u32(s.info.dwSampleSize);
            std::int32_t w = 0;
            std::int32_t h = 0;
            frameSize(s, w, h);
            const RECT& r = s.info.rcFrame;
            const bool haveRect = r.right > r.left && r.bottom > r.top;
            b.u16(static_cast<std::uint16_t>(clampShort(haveRect ? r.left : 0)));
            b.u16(static_cast<std::uint16_t>(clampShort(haveRect ? r.top : 0)));
            b.u16(static_cast<std::uint16_t>(clampShort(haveRect ? r.right : w)));
            b.u16(static_cast<std::uint16_t>(clampShort(haveRect ? r.bottom : h)));
            b.close(strh);

            const std::size_t strf = b.openChunk(fcc::strf);
            b.raw(s.format.data(), s.format.size());
            b.close(strf);

            const std::size_t nameLength = ::strnlen(s.info.szName, sizeof s.info.szName);
            if (nameLength > 0) {
                const std::size_t strn = b.openChunk(fcc::strn);
                b.raw(s.info.szName, nameLength);
                b.u8(0);
                b.close(strn);
            }

            const std::size_t indx = b.openChunk(fcc::indx);
            b.u16(kSuperIndexEntrySize / 4); // wLongsPerEntry
            b.u8(0);                         // bIndexSubType
            b.u8(kIndexOfIndexes);
            b.u32(static_cast<std::uint32_t>(s.superIndex.size()));
            b.u32(chunkIdFor(s, static_cast<int>(n)));
            b.zeros(12);
            for (const SuperIndexEntry& e : s.superIndex) {
                b.u64(e.offset);
                b.u32(e.size);
                b.u32(e.duration);
            }
            b.zeros((kSuperIndexSlots - s.superIndex.size()) * kSuperIndexEntrySize);
            b.close(indx);

            b.close(strl);
        }

        const std::size_t odml = b.openList(fcc::odml);
        const std::size_t dmlh = b.openChunk(fcc::dmlh);
        b.u32(main ? static_cast<std::uint32_t>(main->length) : 0);
        b.zeros(kDmlhSize - 4);
        b.close(dmlh);
        b.close(odml);

        b.close(hdrl);
        return out;
    }

    // The first RIFF's header from byte 12 up to movi: the LISTs, then JUNK filling
    // up to headerEnd. False when the LISTs no longer fit (a late, larger setFormat).
    bool headerBlock(std::vector<std::uint8_t>& out) const
    {
        out = headerLists();
        if (12 + out.size() + 8 > headerEnd)
            return false;
        Bytes b(out);
        const std::size_t junk = b.openChunk(fcc::JUNK);
        b.zeros(headerEnd - 12 - out.size());
        b.close(junk);
        return true;
    }

    // Starts a RIFF: the first one carries the header space, laid out once here; the
    // AVIX ones that follow hold only movi.
    void openRiff(FOURCC type)
    {
        riffStart = file.position();
        std::array<std::uint8_t, 12> h{};
        putLe32(&h[0], fcc::RIFF);
        putLe32(&h[8], type);
        file.write(h.data(), h.size());
        if (type == fcc::AVI_) {
            const std::uint64_t lists = headerLists().size();
            headerEnd = (12 + lists + 8 + kMoviAlignment - 1) / kMoviAlignment * kMoviAlignment;
            std::vector<std::uint8_t> header;
            headerBlock(header);
            file.write(header.data(), header.size());
        }
        moviStart = file.position();
        putLe32(&h[0], fcc::LIST);
        putLe32(&h[8], fcc::movi);
        file.write(h.data(), h.size());
        riffChunks = 0;
        pendingIndexBytes = 0;
        ++riffCount;
    }

    void patch32(std::uint64_t offset, std::uint64_t value)
    {
        std::array<std::uint8_t, 4> v{};
        putLe32(v.data(), static_cast<std::uint32_t>(value));
        file.writeAt(offset, v.data(), v.size());
    }

    // Ends the current RIFF: its standard indexes go at the end of movi, then idx1 for
    // the first RIFF, then the sizes are patched.
    void closeRiff()
    {
        std::vector<std::uint8_t> ix;
        for (std::size_t n = 0; n < streams.size(); ++n) {
            Stream& s = streams[n];
            if (s.riffEntries.empty())
                continue;
            const auto entries = static_cast<std::uint32_t>(s.riffEntries.size() / 2);
            ix.clear();
            Bytes b(ix);
            static constexpr char digits[] = "0123456789abcdef";
            const std::size_t chunk = b.openChunk(mmioFOURCC('i', 'x', digits[(n >> 4) & 15], digits[n & 15]));
            b.u16(kStdIndexEntrySize / 4); // wLongsPerEntry
            b.u8(0);                       // bIndexSubType
            b.u8(kIndexOfChunks);
            b.u32(entries);
            b.u32(s.chunkId);
            b.u64(moviStart);
            b.u32(0);
            for (std::uint32_t v : s.riffEntries)
                b.u32(v);
            b.close(chunk);
            s.superIndex.push_back({file.position(), static_cast<std::uint32_t>(ix.size()), entries});
            file.write(ix.data(), ix.size());
            s.riffEntries.clear();
        }
        patch32(moviStart + 4, file.position() - moviStart - 8);

        const bool first = riffCount == 1;
        if (first) {
            for (Stream& s : streams)
                s.firstRiffLength = s.length;
            std::array<std::uint8_t, 8> h{};
            putLe32(&h[0], fcc::idx1);
            putLe32(&h[4], static_cast<std::uint32_t>(idx1.size()));
            file.write(h.data(), h.size());
            file.write(idx1.data(), idx1.size());
            idx1 = {};
        }
        const std::uint64_t riffSize = file.position() - riffStart - 8;
        patch32(riffStart + 4, riffSize);
    }

    // Appends one chunk, starting the next RIFF first when this one would pass the limit
    // with the chunk and the indexes it will end with. False when no RIFF is left.
    bool appendChunk(int n, const void* data, std::uint32_t size, bool key, std::uint64_t limit)
    {
        Stream& s = streams[static_cast<std::size_t>(n)];
        const std::uint64_t chunkBytes = 8 + std::uint64_t{size} + (size & 1);
        const std::uint64_t indexGrowth = kStdIndexEntrySize + (s.riffEntries.empty() ? 8 + kIndexHeaderSize : 0);
        const std::uint64_t idx1Bytes = riffCount == 1 ? 8 + idx1.size() + kIdx1EntrySize : 0;
        const std::uint64_t projected =
            file.position() - riffStart + chunkBytes + pendingIndexBytes + indexGrowth + idx1Bytes;
        if (riffChunks > 0 && projected > limit) {
            // Every RIFF needs a slot in each stream's super index; past the slots
            // reserved in the header the file cannot grow, so the sample is refused.
            if (riffCount >= static_cast<int>(kSuperIndexSlots))
                return false;
            closeRiff();
            openRiff(fcc::AVIX);
            return appendChunk(n, data, size, key, limit);
        }

        const std::uint64_t at = file.position();
        if (riffCount == 1) {
            const std::size_t e = idx1.size();
            idx1.resize(e + kIdx1EntrySize);
            putLe32(&idx1[e], s.chunkId);
            putLe32(&idx1[e + 4], key ? kIdx1KeyFrame : 0);
            putLe32(&idx1[e + 8], static_cast<std::uint32_t>(at - (moviStart + 8)));
            putLe32(&idx1[e + 12], size);
        }
        s.riffEntries.push_back(static_cast<std::uint32_t>(at + 8 - moviStart));
        s.riffEntries.push_back(size | (key ? 0 : kOdmlDeltaFrame));
        pendingIndexBytes += indexGrowth;
        ++riffChunks;

        std::array<std::uint8_t, 8> h{};
        putLe32(&h[0], s.chunkId);
        putLe32(&h[4], size);
        file.write(h.data(), h.size());
        if (size > 0)
            file.write(data, size);
        if (size & 1) {
            const std::uint8_t pad = 0;
            file.write(&pad, 1);
        }
        s.chunkEnds.push_back(file.position());
        ++s.length;
        s.largestChunk = std::max(s.largestChunk, size);
        return true;
    }
};

HRESULT AviWriter::create(const std::string& path, std::unique_ptr<AviWriter>& out, int* systemError)
{
    out.reset();
    std::unique_ptr<AviWriter> writer(new AviWriter());
    writer->m_impl = std::make_unique<Impl>();
    if (!writer->m_impl->file.create(path)) {
        if (systemError)
            *systemError = writer->m_impl->file.error();
        return AVIERR_FILEOPEN;
    }
    out = std::move(writer);
    return AVIERR_OK;
}

AviWriter::~AviWriter()
{
    if (m_impl && !m_impl->finished)
        finish();
}

HRESULT AviWriter::addStream(const AVISTREAMINFOA& info, int& stream)
{
    Impl& d = *m_impl;
    if (d.finished)
        return AVIERR_READONLY;
    if (d.laidOut || d.streams.size() >= kMaxStreams)
        return AVIERR_UNSUPPORTED;
    d.streams.emplace_back();
    d.streams.back().info = info;
    stream = static_cast<int>(d.streams.size() - 1);
    return AVIERR_OK;
}

HRESULT AviWriter::setFormat(int stream, const void* format, std::size_t size)
{
    Impl& d = *m_impl;
    if (d.finished)
        return AVIERR_READONLY;
    if (stream < 0 || static_cast<std::size_t>(stream) >= d.streams.size() || (!format && size > 0))
        return AVIERR_BADPARAM;
    if (size > UINT32_MAX / 2)
        return AVIERR_BADSIZE;
    Impl::Stream& s = d.streams[static_cast<std::size_t>(stream)];
    if (s.length > 0)
        return AVIERR_UNSUPPORTED;
    const auto* p = static_cast<const std::uint8_t*>(format);
    std::vector<std::uint8_t> previous = std::move(s.format);
    s.format.assign(p, p + size);
    if (d.laidOut) {
        // Another stream has started, so the header space is fixed: the format may
        // only use the slack left before movi.
        std::vector<std::uint8_t> header;
        if (!d.headerBlock(header)) {
            s.format = std::move(previous);
            return AVIERR_UNSUPPORTED;
        }
    }
    return AVIERR_OK;
}

HRESULT AviWriter::write(int stream, std::int32_t position, const void* data, std::uint32_t size, bool key)
{
    Impl& d = *m_impl;
    if (d.finished)
        return AVIERR_READONLY;
    if (stream < 0 || static_cast<std::size_t>(stream) >= d.streams.size() || (!data && size > 0))
        return AVIERR_BADPARAM;
    if (size > kMaxSampleSize)
        return AVIERR_BADSIZE;
    if (d.refused || d.file.failed())
        return AVIERR_FILEWRITE;
    Impl::Stream& s = d.streams[static_cast<std::size_t>(stream)];
    if (position < s.length || position == INT32_MAX)
        return AVIERR_BADPARAM;

    if (!d.laidOut) {
        d.laidOut = true;
        d.openRiff(fcc::AVI_);
    }
    if (s.length == 0)
        s.chunkId = Impl::chunkIdFor(s, stream);
    // The RIFF size fields are 32 bits wide; beyond that no limit can hold.
    const std::uint64_t limit = std::min<std::uint64_t>(m_riffLimit, UINT32_MAX);
    // Skipped positions become samples without data: not key frames, since there is
    // nothing to start decoding from.
    while (s.length < position) {
        if (!d.appendChunk(stream, nullptr, 0, false, limit)) {
            d.refused = true;
            return AVIERR_FILEWRITE;
        }
    }
    if (!d.appendChunk(stream, data, size, key, limit)) {
        d.refused = true;
        return AVIERR_FILEWRITE;
    }
    return d.file.failed() ? AVIERR_FILEWRITE : AVIERR_OK;
}

HRESULT AviWriter::finish()
{
    Impl& d = *m_impl;
    if (d.finished)
        return d.result;
    d.finished = true;
    if (!d.laidOut) {
        d.laidOut = true;
        d.openRiff(fcc::AVI_);
    }
    d.closeRiff();
    std::vector<std::uint8_t> header;
    d.headerBlock(header);
    d.file.writeAt(12, header.data(), header.size());
    const bool closed = d.file.close();
    d.result = (closed && !d.refused) ? AVIERR_OK : AVIERR_FILEWRITE;
    return d.result;
}

int AviWriter::systemError() const
{
    if (m_impl->file.failed())
        return m_impl->file.error();
    return m_impl->refused ? EFBIG : 0;
}

std::int32_t AviWriter::firstLost(int stream) const
{
    const Impl& d = *m_impl;
    if (!d.file.failed() || stream < 0 || static_cast<std::size_t>(stream) >= d.streams.size())
        return -1;
    const std::vector<std::uint64_t>& ends = d.streams[static_cast<std::size_t>(stream)].chunkEnds;
    const auto it = std::upper_bound(ends.begin(), ends.end(), d.file.errorOffset());
    return it == ends.end() ? -1 : static_cast<std::int32_t>(it - ends.begin());
}

std::int32_t AviWriter::length(int stream) const
{
    if (stream < 0 || static_cast<std::size_t>(stream) >= m_impl->streams.size())
        return 0;
    return static_cast<std::int32_t>(m_impl->streams[static_cast<std::size_t>(stream)].length);
}

} // namespace kestro::avi
