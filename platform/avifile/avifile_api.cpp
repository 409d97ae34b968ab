// The AVIFile-style operations over the reader, writer and decoders.
//
// Handles are the addresses of reference-counted objects kept in one registry, so a
// stale or foreign handle is answered with AVIERR_BADHANDLE instead of a crash, and a
// stream keeps its file alive whatever order the caller releases them in.
#include "avifile.h"

#include "avi_reader.h"
#include "avi_writer.h"
#include "frame_decoder.h"
#include "riff.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <typeinfo>

struct AviFileObject {
    std::unique_ptr<kestro::avi::AviReader> reader;
    std::unique_ptr<kestro::avi::AviWriter> writer;
    std::int32_t writeStreams = 0;
};

struct AviStreamObject {
    std::shared_ptr<AviFileObject> file;
    int number = 0;
    // Set for the stream made by AVIMakeCompressedStream: every call goes to the source.
    std::shared_ptr<AviStreamObject> source;
    AVISTREAMINFOA writeInfo{}; // streams being written: the header as created
};

struct AviGetFrameObject;

namespace {

using kestro::avi::AviReader;
using kestro::avi::AviWriter;
using kestro::avi::SampleEntry;
using kestro::avi::SampleIndex;
using kestro::avi::StreamData;

struct Registry {
    std::mutex mutex;
    struct Entry {
        std::shared_ptr<void> object;
        const std::type_info* type = nullptr; // a handle of one kind passed as another is refused
        ULONG refs = 1;
    };
    std::map<const void*, Entry> entries;
    int initCount = 0;
};

// Per thread, like errno itself: exports may run side by side.
thread_local int t_lastSystemError = 0;
thread_local std::string t_lastErrorText;

// Notes why a reading call failed (or that it did not) and passes its result on.
template <typename R> R noteReadFailure(R result, std::string why)
{
    t_lastErrorText = std::move(why);
    return result;
}

// Notes the system error behind a writing call's result and passes the result on.
HRESULT noteWriteResult(HRESULT hr, int systemError)
{
    t_lastSystemError = hr == AVIERR_OK ? 0 : systemError;
    return hr;
}

Registry& registry()
{
    static Registry r;
    return r;
}

template <typename T> T* publish(std::shared_ptr<T> object)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    T* handle = object.get();
    r.entries[handle] = {std::move(object), &typeid(T), 1};
    return handle;
}

template <typename T> std::shared_ptr<T> lookup(const T* handle)
{
    if (!handle)
        return nullptr;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.entries.find(handle);
    if (it == r.entries.end() || *it->second.type != typeid(T))
        return nullptr;
    return std::static_pointer_cast<T>(it->second.object);
}

template <typename T> ULONG release(const T* handle)
{
    std::shared_ptr<void> last; // destroyed outside the lock: a writer completes its file here
    ULONG refs = 0;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.entries.find(handle);
        if (it == r.entries.end() || *it->second.type != typeid(T))
            return 0;
        refs = --it->second.refs;
        if (refs == 0) {
            last = std::move(it->second.object);
            r.entries.erase(it);
        }
    }
    return refs;
}

// The stream that holds the data: a compressed stream passes everything to its source.
std::shared_ptr<AviStreamObject> resolve(PAVISTREAM pavi)
{
    auto s = lookup(pavi);
    while (s && s->source)
        s = s->source;
    return s;
}

const StreamData* readStream(const AviStreamObject& s)
{
    if (!s.file || !s.file->reader || s.number >= s.file->reader->streamCount())
        return nullptr;
    return &s.file->reader->stream(s.number);
}

LONG streamStart(const StreamData& d) { return static_cast<LONG>(d.info.dwStart); }

// The stored sample at position lStart of a stream that can be read, or why there is none.
struct SampleAt {
    std::shared_ptr<AviStreamObject> stream;
    const SampleEntry* entry = nullptr;
    HRESULT result = AVIERR_OK;
};

SampleAt sampleAt(PAVISTREAM pavi, LONG lStart)
{
    SampleAt at;
    at.stream = resolve(pavi);
    if (!at.stream) {
        at.result = AVIERR_BADHANDLE;
        return at;
    }
    const StreamData* d = readStream(*at.stream);
    if (!d) {
        at.result = AVIERR_UNSUPPORTED;
        return at;
    }
    const std::int64_t i = static_cast<std::int64_t>(lStart) - streamStart(*d);
    if (i < 0 || i >= d->index.size())
        at.result = AVIERR_BADPARAM;
    else
        at.entry = &d->index[static_cast<std::int32_t>(i)];
    return at;
}

// Decoder access to one stream's samples.
class StreamSamples final : public kestro::avi::SampleSource {
public:
    StreamSamples(std::shared_ptr<AviStreamObject> stream, const StreamData& data)
        : m_stream(std::move(stream)), m_data(data)
    {
    }
    std::int32_t start() const override { return streamStart(m_data); }
    std::int32_t length() const override { return m_data.index.size(); }
    std::int32_t findSample(std::int32_t position, std::int32_t flags) const override;
    HRESULT readSample(std::int32_t position, std::vector<std::uint8_t>& out) const override
    {
        const std::int64_t i = static_cast<std::int64_t>(position) - start();
        if (i < 0 || i >= m_data.index.size())
            return AVIERR_BADPARAM;
        const auto& entry = m_data.index[static_cast<std::int32_t>(i)];
        try {
            out.resize(entry.size);
        } catch (const std::bad_alloc&) {
            return AVIERR_MEMORY;
        }
        return m_stream->file->reader->read(entry, out.data());
    }
    std::uint64_t largestSample() const override { return m_data.index.largestSample(); }

private:
    std::shared_ptr<AviStreamObject> m_stream; // keeps the file open
    const StreamData& m_data;
};

LONG findSample(const StreamData& d, LONG lPos, LONG lFlags)
{
    const SampleIndex& index = d.index;
    const std::int64_t start = streamStart(d);
    const std::int64_t n = index.size();
    if (n == 0)
        return -1;
    bool forward = (lFlags & FIND_PREV) == 0;
    std::int64_t i = static_cast<std::int64_t>(lPos) - start;
    if (lFlags & FIND_FROM_START) {
        i = 0;
        forward = true;
    }
    if (lFlags & 0x40) { // FIND_FORMAT: the format never changes within a stream here
        if (forward)
            return i <= 0 ? static_cast<LONG>(start) : -1;
        return i >= 0 ? static_cast<LONG>(start) : -1;
    }
    // Searching back from past the end starts at the last sample, forward from before
    // the start at the first; the other two directions find nothing.
    if (forward) {
        if (i >= n)
            return -1;
        i = std::max<std::int64_t>(i, 0);
    } else {
        if (i < 0)
            return -1;
        i = std::min<std::int64_t>(i, n - 1);
    }
    const auto idx = static_cast<std::int32_t>(i);
    const std::int32_t found = (lFlags & FIND_ANY) ? index.findData(idx, forward) : index.findKey(idx, forward);
    return found < 0 ? -1 : static_cast<LONG>(found + start);
}

std::int32_t StreamSamples::findSample(std::int32_t position, std::int32_t flags) const
{
    return ::findSample(m_data, position, flags);
}

} // namespace

struct AviGetFrameObject {
    std::shared_ptr<AviStreamObject> stream;
    std::unique_ptr<StreamSamples> samples;
    std::unique_ptr<kestro::avi::FrameDecoder> decoder;
};

void AVIFileInit()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    ++r.initCount;
}

void AVIFileExit()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.initCount > 0)
        --r.initCount;
}

DWORD VideoForWindowsVersion()
{
    return 0x010A0000u; // 1.10
}

HRESULT AVIFileOpenA(PAVIFILE* ppfile, const char* szFile, UINT uMode, const void* /*lpHandler*/)
{
    if (!ppfile)
        return AVIERR_BADPARAM;
    *ppfile = nullptr;
    if (!szFile)
        return AVIERR_BADPARAM;
    auto file = std::make_shared<AviFileObject>();
    if (uMode & OF_CREATE) {
        int systemError = 0;
        const HRESULT created = AviWriter::create(szFile, file->writer, &systemError);
        const HRESULT hr = noteWriteResult(created, systemError);
        if (hr != AVIERR_OK)
            return hr;
    } else if (uMode & (OF_WRITE | 0x0002 /* OF_READWRITE */)) {
        return AVIERR_UNSUPPORTED; // existing files are never edited in place
    } else {
        std::string why;
        const HRESULT hr = AviReader::open(szFile, file->reader, &why);
        if (hr != AVIERR_OK)
            return noteReadFailure(hr, std::move(why));
        t_lastErrorText.clear();
    }
    *ppfile = publish(std::move(file));
    return AVIERR_OK;
}

ULONG AVIFileRelease(PAVIFILE pfile) { return release(pfile); }

HRESULT AVIFileCommit(PAVIFILE pfile)
{
    auto file = lookup(pfile);
    if (!file)
        return AVIERR_BADHANDLE;
    if (!file->writer)
        return AVIERR_READONLY;
    const HRESULT hr = file->writer->finish();
    return noteWriteResult(hr, file->writer->systemError());
}

int AVIFileLastSystemError() { return t_lastSystemError; }

LONG AVIStreamFirstLostSample(PAVISTREAM pavi)
{
    auto s = resolve(pavi);
    if (!s || !s->file->writer)
        return -1;
    return s->file->writer->firstLost(s->number);
}

const char* AVIFileLastErrorText() { return t_lastErrorText.c_str(); }

HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam)
{
    if (!ppavi)
        return AVIERR_BADPARAM;
    *ppavi = nullptr;
    auto file = lookup(pfile);
    if (!file)
        return AVIERR_BADHANDLE;
    if (!file->reader || lParam < 0)
        return AVIERR_NODATA;
    LONG seen = 0;
    for (int i = 0; i < file->reader->streamCount(); ++i) {
        if (fccType != 0 && file->reader->stream(i).info.fccType != fccType)
            continue;
        if (seen++ == lParam) {
            auto stream = std::make_shared<AviStreamObject>();
            stream->file = file;
            stream->number = i;
            *ppavi = publish(std::move(stream));
            return noteReadFailure(AVIERR_OK, {});
        }
    }
    if (file->reader->summary().headersCut)
        return noteReadFailure(AVIERR_NODATA, "the file ends inside its headers");
    if (seen == 0)
        return noteReadFailure(AVIERR_NODATA, fccType == streamtypeVIDEO ? "the file holds no video stream"
                                                                         : "the file holds no such stream");
    return noteReadFailure(AVIERR_NODATA, "the file holds fewer streams of that kind");
}

HRESULT AVIStreamInfoA(PAVISTREAM pavi, AVISTREAMINFOA* psi, LONG lSize)
{
    auto s = resolve(pavi);
    if (!s)
        return AVIERR_BADHANDLE;
    if (!psi || lSize < 0)
        return AVIERR_BADPARAM;
    AVISTREAMINFOA info{};
    if (const StreamData* d = readStream(*s)) {
        info = d->info;
    } else if (s->file->writer) {
        info = s->writeInfo;
        info.dwLength = static_cast<DWORD>(s->file->writer->length(s->number));
    } else {
        return AVIERR_BADHANDLE;
    }
    std::memcpy(psi, &info, std::min<std::size_t>(sizeof info, static_cast<std::size_t>(lSize)));
    return AVIERR_OK;
}

LONG AVIStreamStart(PAVISTREAM pavi)
{
    auto s = resolve(pavi);
    if (!s)
        return -1;
    if (const StreamData* d = readStream(*s))
        return streamStart(*d);
    return s->file->writer ? 0 : -1;
}

LONG AVIStreamLength(PAVISTREAM pavi)
{
    auto s = resolve(pavi);
    if (!s)
        return -1;
    if (const StreamData* d = readStream(*s))
        return d->index.size();
    return s->file->writer ? s->file->writer->length(s->number) : -1;
}

LONG AVIStreamPromisedLength(PAVISTREAM pavi)
{
    auto s = resolve(pavi);
    if (!s)
        return -1;
    if (const StreamData* d = readStream(*s))
        return static_cast<LONG>(
            std::clamp<std::int64_t>(d->promisedSamples, d->index.size(), std::numeric_limits<LONG>::max()));
    return AVIStreamLength(pavi);
}

LONG AVIStreamFindSample(PAVISTREAM pavi, LONG lPos, LONG lFlags)
{
    auto s = resolve(pavi);
    const StreamData* d = s ? readStream(*s) : nullptr;
    return d ? findSample(*d, lPos, lFlags) : -1;
}

HRESULT AVIStreamRead(PAVISTREAM pavi, LONG lStart, LONG /*lSamples*/, void* lpBuffer, LONG cbBuffer, LONG* plBytes,
                      LONG* plSamples)
{
    if (plBytes)
        *plBytes = 0;
    if (plSamples)
        *plSamples = 0;
    // Video samples are read one at a time, whatever count is asked for.
    const SampleAt at = sampleAt(pavi, lStart);
    if (!at.entry)
        return at.result;
    const SampleEntry& entry = *at.entry;
    const auto size = static_cast<LONG>(std::min<std::uint32_t>(entry.size, 0x7FFFFFFF));
    if (!lpBuffer) {
        if (plBytes)
            *plBytes = size;
        if (plSamples)
            *plSamples = 1;
        return AVIERR_OK;
    }
    if (cbBuffer < size) {
        if (plBytes)
            *plBytes = size; // tells the caller what a buffer must hold
        return AVIERR_BUFFERTOOSMALL;
    }
    const HRESULT hr = at.stream->file->reader->read(entry, lpBuffer);
    if (hr != AVIERR_OK)
        return hr;
    if (plBytes)
        *plBytes = size;
    if (plSamples)
        *plSamples = 1;
    return AVIERR_OK;
}

HRESULT AVIStreamReadPart(PAVISTREAM pavi, LONG lStart, LONG lOffset, LONG cbRow, LONG nRows, void* lpFirstRow,
                          LONG lStride, LONG* plBytes)
{
    if (plBytes)
        *plBytes = 0;
    const SampleAt at = sampleAt(pavi, lStart);
    if (!at.entry)
        return at.result;
    const std::int64_t asked = std::int64_t{cbRow} * nRows;
    if (lOffset < 0 || cbRow < 0 || nRows < 0 || asked > 0x7FFFFFFF || (!lpFirstRow && asked > 0))
        return AVIERR_BADPARAM;
    const SampleEntry& entry = *at.entry;
    const auto from = static_cast<std::uint32_t>(lOffset);
    const std::uint64_t n = from >= entry.size ? 0 : std::min<std::uint64_t>(entry.size - from, asked);
    const HRESULT hr =
        at.stream->file->reader->readPart(entry, from, static_cast<std::uint32_t>(cbRow), static_cast<std::uint32_t>(n),
                                          static_cast<std::uint8_t*>(lpFirstRow), lStride);
    if (hr != AVIERR_OK)
        return hr;
    if (plBytes)
        *plBytes = static_cast<LONG>(n);
    return AVIERR_OK;
}

ULONG AVIStreamRelease(PAVISTREAM pavi) { return release(pavi); }

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM pavi, const BITMAPINFOHEADER* lpbiWanted)
{
    if (lpbiWanted)
        return nullptr; // only the decoder's own format is offered
    auto s = resolve(pavi);
    const StreamData* d = s ? readStream(*s) : nullptr;
    if (!d || d->info.fccType != streamtypeVIDEO)
        return noteReadFailure<PGETFRAME>(nullptr, "the stream is not a video stream of an open file");
    auto gf = std::make_shared<AviGetFrameObject>();
    gf->stream = s;
    gf->samples = std::make_unique<StreamSamples>(s, *d);
    std::string why;
    gf->decoder = kestro::avi::FrameDecoder::create(d->info, d->format.data(), d->format.size(), *gf->samples, &why);
    if (!gf->decoder)
        return noteReadFailure<PGETFRAME>(
            nullptr, s->file->reader->summary().headersCut ? std::string("the file ends inside its headers") : why);
    t_lastErrorText.clear();
    return publish(std::move(gf));
}

void* AVIStreamGetFrame(PGETFRAME pgf, LONG lPos)
{
    auto gf = lookup(pgf);
    if (!gf)
        return nullptr;
    // The decoder refuses positions outside the stream itself.
    return const_cast<BITMAPINFOHEADER*>(gf->decoder->frame(lPos));
}

HRESULT AVIStreamGetFrameClose(PGETFRAME pgf)
{
    if (!lookup(pgf))
        return AVIERR_BADHANDLE;
    release(pgf);
    return AVIERR_OK;
}

HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi)
{
    if (!ppavi)
        return AVIERR_BADPARAM;
    *ppavi = nullptr;
    auto file = lookup(pfile);
    if (!file)
        return AVIERR_BADHANDLE;
    if (!psi)
        return AVIERR_BADPARAM;
    if (!file->writer)
        return AVIERR_READONLY;
    int number = 0;
    const HRESULT hr = file->writer->addStream(*psi, number);
    if (hr != AVIERR_OK)
        return hr;
    auto stream = std::make_shared<AviStreamObject>();
    stream->file = file;
    stream->number = number;
    stream->writeInfo = *psi;
    *ppavi = publish(std::move(stream));
    return AVIERR_OK;
}

HRESULT AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource, const AVICOMPRESSOPTIONS* lpOptions,
                                const void* /*pclsidHandler*/)
{
    if (!ppsCompressed)
        return AVIERR_BADPARAM;
    *ppsCompressed = nullptr;
    auto source = lookup(psSource);
    if (!source)
        return AVIERR_BADHANDLE;
    if (!lpOptions)
        return AVIERR_BADPARAM;
    // Frames are stored exactly as given; no compressor is offered.
    if (lpOptions->fccHandler != kestro::avi::fcc::DIB_)
        return AVIERR_NOCOMPRESSOR;
    auto stream = std::make_shared<AviStreamObject>();
    stream->file = source->file;
    stream->number = source->number;
    stream->source = source;
    *ppsCompressed = publish(std::move(stream));
    return AVIERR_OK;
}

HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat)
{
    auto s = resolve(pavi);
    if (!s)
        return AVIERR_BADHANDLE;
    if (!s->file->writer)
        return AVIERR_READONLY;
    if (!lpFormat || cbFormat <= 0 || lPos != 0)
        return AVIERR_BADPARAM;
    return s->file->writer->setFormat(s->number, lpFormat, static_cast<std::size_t>(cbFormat));
}

HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer, LONG cbBuffer, DWORD dwFlags,
                       LONG* plSampWritten, LONG* plBytesWritten)
{
    if (plSampWritten)
        *plSampWritten = 0;
    if (plBytesWritten)
        *plBytesWritten = 0;
    auto s = resolve(pavi);
    if (!s)
        return AVIERR_BADHANDLE;
    if (!s->file->writer)
        return AVIERR_READONLY;
    if (lStart < 0 || lSamples != 1 || cbBuffer < 0 || (!lpBuffer && cbBuffer > 0))
        return AVIERR_BADPARAM;
    const HRESULT written = s->file->writer->write(s->number, lStart, lpBuffer, static_cast<std::uint32_t>(cbBuffer),
                                                   (dwFlags & AVIIF_KEYFRAME) != 0);
    const HRESULT hr = noteWriteResult(written, s->file->writer->systemError());
    if (hr != AVIERR_OK)
        return hr;
    if (plSampWritten)
        *plSampWritten = 1;
    if (plBytesWritten)
        *plBytesWritten = cbBuffer;
    return AVIERR_OK;
}
