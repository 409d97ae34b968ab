// AVI file services: the operations Kestro uses to read captures and write exports.
//
// The names, argument roles and result codes follow the long-established AVIFile
// programming interface, so the rest of the program reads like any AVI tool. Inside,
// the container (AVI 1.0 and OpenDML AVI 2.0) is parsed and written by this library;
// libavcodec and libswscale decode compressed and YUV frames.
//
// Threading: the services keep per-object state only, and each object is meant for
// one thread at a time (Kestro uses them from its interface thread).
//
// avi_handles.h holds files, streams and decoders so that they are released however a caller
// leaves; the release operations below stay the public API.
#pragma once

#include "dib.h" // BITMAPINFOHEADER, RGBQUAD and the integer types they are made of

#include <cstddef>
#include <cstdint>

using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using HRESULT = std::int32_t;
using FOURCC = std::uint32_t;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d)
{
    return static_cast<FOURCC>(static_cast<BYTE>(a)) | (static_cast<FOURCC>(static_cast<BYTE>(b)) << 8) |
           (static_cast<FOURCC>(static_cast<BYTE>(c)) << 16) | (static_cast<FOURCC>(static_cast<BYTE>(d)) << 24);
}

constexpr FOURCC streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr FOURCC streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');

// Result codes. 0 is success; errors are MAKE_AVIERR(n) = 0x80044000 + n.
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT makeAviErr(int n) { return static_cast<HRESULT>(0x80044000u + static_cast<unsigned>(n)); }
constexpr HRESULT AVIERR_UNSUPPORTED = makeAviErr(101);
constexpr HRESULT AVIERR_BADFORMAT = makeAviErr(102);
constexpr HRESULT AVIERR_MEMORY = makeAviErr(103);
constexpr HRESULT AVIERR_INTERNAL = makeAviErr(104);
constexpr HRESULT AVIERR_BADFLAGS = makeAviErr(105);
constexpr HRESULT AVIERR_BADPARAM = makeAviErr(106);
constexpr HRESULT AVIERR_BADSIZE = makeAviErr(107);
constexpr HRESULT AVIERR_BADHANDLE = makeAviErr(108);
constexpr HRESULT AVIERR_FILEREAD = makeAviErr(109);
constexpr HRESULT AVIERR_FILEWRITE = makeAviErr(110);
constexpr HRESULT AVIERR_FILEOPEN = makeAviErr(111);
constexpr HRESULT AVIERR_COMPRESSOR = makeAviErr(112);
constexpr HRESULT AVIERR_NOCOMPRESSOR = makeAviErr(113);
constexpr HRESULT AVIERR_READONLY = makeAviErr(114);
constexpr HRESULT AVIERR_NODATA = makeAviErr(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = makeAviErr(116);
constexpr HRESULT AVIERR_CANTCOMPRESS = makeAviErr(117);
constexpr HRESULT AVIERR_USERABORT = makeAviErr(198);
constexpr HRESULT AVIERR_ERROR = makeAviErr(199);
static_assert(AVIERR_BUFFERTOOSMALL == static_cast<HRESULT>(0x80044074u));
static_assert(AVIERR_MEMORY == static_cast<HRESULT>(0x80044067u));
static_assert(AVIERR_FILEREAD == static_cast<HRESULT>(0x8004406Du));

// Open modes.
constexpr UINT OF_READ = 0x0000;
constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_CREATE = 0x1000;

// AVIStreamFindSample flags.
constexpr LONG FIND_NEXT = 0x0001;
constexpr LONG FIND_PREV = 0x0004;
constexpr LONG FIND_FROM_START = 0x0008;
constexpr LONG FIND_KEY = 0x0010;
constexpr LONG FIND_ANY = 0x0020;

// AVIStreamWrite flags.
constexpr DWORD AVIIF_KEYFRAME = 0x0010;

// AVICOMPRESSOPTIONS flags.
constexpr DWORD AVICOMPRESSF_VALID = 0x0008;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
static_assert(sizeof(RECT) == 16);

struct AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140);

// Holds pointers, so its size follows the platform (56 bytes on 64-bit Linux).
struct AVICOMPRESSOPTIONS {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwKeyFrameEvery;
    DWORD dwQuality;
    DWORD dwBytesPerSecond;
    DWORD dwFlags;
    void* lpFormat;
    DWORD cbFormat;
    void* lpParms;
    DWORD cbParms;
    DWORD dwInterleaveEvery;
};
static_assert(sizeof(void*) != 8 || sizeof(AVICOMPRESSOPTIONS) == 56);

// Opaque handles. Each is reference counted: AVIFileGetStream, AVIFileCreateStreamA and
// AVIMakeCompressedStream hand out a reference that the matching release gives back,
// and a stream keeps its file alive, so the release order does not matter.
struct AviFileObject;
struct AviStreamObject;
struct AviGetFrameObject;
using PAVIFILE = AviFileObject*;
using PAVISTREAM = AviStreamObject*;
using PGETFRAME = AviGetFrameObject*;

// Counted start and end of the library; pairs nest (the video source holds one pair for
// its life, each export another). The services need no set-up of their own, so an
// object stays usable whatever the count, and an unmatched AVIFileExit does nothing.
void AVIFileInit();
void AVIFileExit();

// The version query: major * 256 + minor in the high 16 bits.
DWORD VideoForWindowsVersion();

// mode OF_READ (0) opens for reading; OF_CREATE | OF_WRITE (0x1001) creates or replaces
// the file for writing. The handler class is not used and may be null.
HRESULT AVIFileOpenA(PAVIFILE* ppfile, const char* szFile, UINT uMode, const void* lpHandler);
ULONG AVIFileRelease(PAVIFILE pfile);

// Completes a file opened for writing now (headers patched, indexes written) and returns
// the first write error the file met, if any. Releasing the last reference completes the
// file too, but has no way to report a failure; exporters call this first so that a full
// disk is never reported as success. Later writes to the file are refused.
HRESULT AVIFileCommit(PAVIFILE pfile);

// The system's error number (errno) behind the last AVIERR_FILEOPEN or AVIERR_FILEWRITE that a
// writing call (AVIFileOpenA for writing, AVIStreamWrite, AVIFileCommit) returned on this thread,
// 0 after one that succeeded. It lets an exporter say "no space left on device" rather than a code.
int AVIFileLastSystemError();

// The first position of a stream being written whose sample never reached the file whole because
// a write failed, or -1 when none was lost. Samples wait in a buffer before they are written, so
// the AVIStreamWrite that reports a full disk may come several samples after the first one lost.
LONG AVIStreamFirstLostSample(PAVISTREAM pavi);

// Why the last AVIFileOpenA (for reading), AVIFileGetStream or AVIStreamGetFrameOpen called on
// this thread failed, in words a message can show ("no such file", "not an AVI file", "the file
// ends inside its headers", ...); empty after one that succeeded.
const char* AVIFileLastErrorText();

// The lParam-th stream of type fccType (0 for any type).
HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam);
HRESULT AVIStreamInfoA(PAVISTREAM pavi, AVISTREAMINFOA* psi, LONG lSize);
LONG AVIStreamStart(PAVISTREAM pavi);
LONG AVIStreamLength(PAVISTREAM pavi);
// The length the file's headers and index promised for the stream being read: more than
// AVIStreamLength when the file ends before its last frames (a recording cut short), else the
// same. -1 for a bad handle.
LONG AVIStreamPromisedLength(PAVISTREAM pavi);
LONG AVIStreamFindSample(PAVISTREAM pavi, LONG lPos, LONG lFlags);

// Reads the stored bytes of the sample at lStart, unchanged. A null buffer asks for the
// sample's size in *plBytes. A sample without data (a dropped frame) reads as 0 bytes.
HRESULT AVIStreamRead(PAVISTREAM pavi, LONG lStart, LONG lSamples, void* lpBuffer, LONG cbBuffer, LONG* plBytes,
                      LONG* plSamples);
// Reads part of the sample at lStart unchanged: nRows rows of cbRow bytes each, from byte
// lOffset of its stored bytes on, the k-th row to lpFirstRow + k * lStride. The part a caller
// needs (the sensor plane at the start of a YUV frame) is read without the rest, and, with a
// negative stride, straight into the rows of a bottom-up bitmap. nRows 1 reads cbRow bytes into
// one buffer. *plBytes receives the bytes read, fewer than asked when the sample ends sooner.
HRESULT AVIStreamReadPart(PAVISTREAM pavi, LONG lStart, LONG lOffset, LONG cbRow, LONG nRows, void* lpFirstRow,
                          LONG lStride, LONG* plBytes);
ULONG AVIStreamRelease(PAVISTREAM pavi);

// The decoder delivers packed bitmaps: BITMAPINFOHEADER, 256-entry colour table for
// 8-bit frames, bottom-up rows padded to 4 bytes. Only a null wanted format is accepted.
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM pavi, const BITMAPINFOHEADER* lpbiWanted);
// The bitmap stays valid until the next call on the same decoder; null on failure.
void* AVIStreamGetFrame(PGETFRAME pgf, LONG lPos);
HRESULT AVIStreamGetFrameClose(PGETFRAME pgf);

// Writing.
HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi);
// Only the handler 'DIB ' (frames stored unchanged) is offered; others give AVIERR_NOCOMPRESSOR.
HRESULT AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource, const AVICOMPRESSOPTIONS* lpOptions,
                                const void* pclsidHandler);
HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat);
HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer, LONG cbBuffer, DWORD dwFlags,
                       LONG* plSampWritten, LONG* plBytesWritten);
