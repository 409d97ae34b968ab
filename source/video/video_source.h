// CVideoSource: the one object through which Kestro reads a capture. It opens the first video
// stream of an AVI file, or a SER capture (chosen by the file's first bytes, never its name),
// makes a frame current, and hands out that frame as a packed bitmap in the display mode the user
// chose: as decoded (Normal), as the stored sensor values in grey (RAW Y-channel), or
// de-mosaiced by the embedded converter (RAW colour), optionally in greyscale.
//
// The AVI file services and the SER reader sit side by side behind the same frame walk and the
// same display modes; the export engines, the window and the command line see one capture.
//
// Bitmaps handed out belong to the video source and stay valid until the next GetFrameBitmap,
// GoToFrame, Open or Close. Interface thread only.
#pragma once

#include "avifile.h"
#include "capture_format.h"
#include "cfa_converter.h"
#include "owned_bitmap.h"
#include "video_messages.h"

#include "message_box.h"
#include "ser_reader.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The AVI file services the video source calls, one entry per operation. The video source
// normally uses the platform's; a test replaces single entries to produce failures that real
// files seldom do (a stream that cannot be described, a read error of the disk).
struct AviReadServices {
    void (*fileInit)() = &AVIFileInit;
    void (*fileExit)() = &AVIFileExit;
    HRESULT (*fileOpen)(PAVIFILE*, const char*, UINT, const void*) = &AVIFileOpenA;
    ULONG (*fileRelease)(PAVIFILE) = &AVIFileRelease;
    HRESULT (*fileGetStream)(PAVIFILE, PAVISTREAM*, DWORD, LONG) = &AVIFileGetStream;
    HRESULT (*streamInfo)(PAVISTREAM, AVISTREAMINFOA*, LONG) = &AVIStreamInfoA;
    LONG (*streamStart)(PAVISTREAM) = &AVIStreamStart;
    LONG (*streamLength)(PAVISTREAM) = &AVIStreamLength;
    LONG (*streamPromisedLength)(PAVISTREAM) = &AVIStreamPromisedLength;
    LONG (*streamFindSample)(PAVISTREAM, LONG, LONG) = &AVIStreamFindSample;
    HRESULT (*streamRead)(PAVISTREAM, LONG, LONG, void*, LONG, LONG*, LONG*) = &AVIStreamRead;
    HRESULT (*streamReadPart)(PAVISTREAM, LONG, LONG, LONG, LONG, void*, LONG, LONG*) = &AVIStreamReadPart;
    const char* (*lastErrorText)() = &AVIFileLastErrorText;
    ULONG (*streamRelease)(PAVISTREAM) = &AVIStreamRelease;
    PGETFRAME (*getFrameOpen)(PAVISTREAM, const BITMAPINFOHEADER*) = &AVIStreamGetFrameOpen;
    void* (*getFrame)(PGETFRAME, LONG) = &AVIStreamGetFrame;
    HRESULT (*getFrameClose)(PGETFRAME) = &AVIStreamGetFrameClose;
};

struct ExportReport;
struct CSumImage;

namespace kestro::video {
class SerFrames;
}

// What an export engine is handed besides its output path: which frames to take (none: every
// frame) and what to call once per source frame (none: nothing). The window passes
// IsFrameChecked and StepExportProgress; a caller with its own frame list passes a lambda.
using FramePredicate = std::function<bool(std::int32_t)>;
using ProgressCallback = std::function<void()>;

class CVideoSource {
public:
    CVideoSource();
    explicit CVideoSource(const AviReadServices& services);
    virtual ~CVideoSource();

    CVideoSource(const CVideoSource&) = delete;
    CVideoSource& operator=(const CVideoSource&) = delete;

    // Closes what was open, then opens the file's first video stream and makes its first frame
    // current. On failure the user has been told why and the source is closed.
    bool Open(std::string strFileName);
    // Releases everything that belongs to the open file. Display flags, the greyscale image and
    // the converter's settings stay, so the next file shows the way this one did.
    void Close();

    std::int32_t GetFrameCount() const;
    // The frames the file's headers and index promised: more than GetFrameCount when the file
    // ends early, else the same; 0 when closed.
    std::int32_t GetPromisedFrameCount() const;
    std::int32_t GetFrameWidth() const;
    std::int32_t GetFrameHeight() const;
    // Makes the nearest frame with data at or before n current and returns its position; n
    // outside the stream changes nothing and returns the current position.
    std::int32_t GoToFrame(std::int32_t n);
    // The first position at or after n whose sample holds data, or -1.
    std::int32_t FindDataFrame(std::int32_t n) const;
    std::string GetFileName() const { return m_strFileName; }
    bool IsOpen() const { return m_pStream != nullptr || m_pSer != nullptr; }

    // What the status bar and the exports say about the open capture. For an AVI file: "AVI",
    // 8-bit sensor values, no colour id, no frame times.
    CaptureFormat GetCaptureFormat() const;
    const char* GetCaptureFormatName() const; // "AVI", "SER", "" when closed
    // Bits per sample as the file stores them (8 or 16 for SER: the header's depth), and the bits
    // the data use, from which 8-bit pictures are scaled. 0 when closed.
    int GetStoredDepth() const;
    int GetRealDepth() const;
    // The SER colour id's name ("RGGB", "MONO", "RGB", ...); empty for an AVI file.
    std::string GetColorIdName() const;
    // The pattern code (0..3) the SER header's Bayer id names, as the pattern buttons number
    // them; none for an AVI file and for SER captures without a Bayer mosaic. Open sets the
    // converter to it.
    std::optional<std::int32_t> GetHeaderPattern() const;
    // The header of the open SER capture as stored; null for an AVI file and when closed.
    const kestro::ser::Header* GetSerHeader() const { return m_pSer ? &m_pSer->header() : nullptr; }
    // The UTC time of a frame in 100 ns ticks since 0001-01-01, when the capture holds one.
    std::optional<std::int64_t> GetFrameTimeUtc(std::int32_t nFrame) const;
    // Whether the capture has 16-bit samples, whose byte order the data decide or the user sets.
    bool HasByteOrder() const;
    // The byte order of the SER samples in use, and where it came from (the data, the convention
    // when the data cannot tell, the user's choice).
    kestro::ser::ByteOrder GetByteOrder() const;
    kestro::ser::OrderBasis GetOrderBasis() const;
    // The user's choice of byte order for SER captures (none: the data decide). Like the display
    // flags it stays when another capture opens, and applies to it.
    void SetByteOrder(std::optional<kestro::ser::ByteOrder> order);
    std::optional<kestro::ser::ByteOrder> GetByteOrderChoice() const { return m_byteOrderChoice; }

    // The stored sensor plane at the depth the file holds it: one sample a pixel, of 1 byte (an AVI
    // file's plane, SER up to 8 bits) or 2 (SER of 9 to 16 bits, in host order as the byte order
    // in use reads them). 0 with nothing open or no such plane (SER RGB and BGR frames).
    int GetPlaneSampleBytes() const;
    // The plane's size: that of the pictures RAW Y-channel shows (for an AVI file the decoded
    // frame's, whatever the stream header's rectangle says). 0 when closed.
    std::int32_t GetPlaneWidth() const;
    std::int32_t GetPlaneHeight() const;
    // Rows nFirstRow .. nFirstRow + nRows - 1 (from the top) of frame nFrame's stored plane, row k
    // at pDst + k * nStride bytes (the stride may be negative); the frame need not be current.
    // What RAW Y-channel shows, at full depth, for exports that keep the stored values and for
    // work done band by band. False when it cannot be read: the
    // user is told once for the frame, or the message is held while an export runs.
    bool ReadPlaneRows(std::int32_t nFrame, std::int32_t nFirstRow, std::int32_t nRows, std::uint8_t* pDst,
                       std::ptrdiff_t nStride);
    // What a read that failed would tell the user; an empty text for a caller's mistake (rows
    // outside the plane, nothing open), which tells no one.
    struct ReadFailure {
        std::string text;
        std::string caption;
    };
    // The same read telling no one, with what it would tell in *pFailure: several threads may read
    // bands of the open capture's plane at once this way (the sums do), as long as none of them
    // opens, closes or changes the byte order meanwhile.
    bool ReadPlaneRows(std::int32_t nFrame, std::int32_t nFirstRow, std::int32_t nRows, std::uint8_t* pDst,
                       std::ptrdiff_t nStride, ReadFailure* pFailure) const;
    // Tells the user of such a failure, once for the frame, as the telling read does.
    void TellReadFailure(std::int32_t nFrame, const ReadFailure& failure);

    // The current frame in the current display mode; null with no file or no current frame.
    const BITMAPINFOHEADER* GetFrameBitmap();
    // The current frame's stored sensor plane as an 8-bit grey image, or, in RAW colour,
    // de-mosaiced into a 24-bit image. Falls back to the decoded frame (and to Normal) when the
    // capture cannot be shown raw.
    const BITMAPINFOHEADER* ReadRawFrame();
    // A 24- or 32-bit colour bitmap reduced to 8-bit grey; other bitmaps unchanged.
    const BITMAPINFOHEADER* MakeGreyscale(const BITMAPINFOHEADER* pBitmap);

    // Display settings, set by the display controls: the mode, greyscale, and in the converter
    // the Bayer pattern and the de-mosaic algorithm.
    bool m_bRaw = false;
    bool m_bRawColour = false;
    bool m_bGreyscale = false;
    CCfaConverter m_converter;

    // The position of the current frame, -1 when closed or when no frame with data precedes it.
    std::int32_t GetCurrentPosition() const { return m_lCurrent; }
    // The AVI stream's header as the file gives it (its four-character code, rate and scale);
    // all zero while no AVI file is open (a SER capture has none).
    const AVISTREAMINFOA& GetStreamInfo() const { return m_streamInfo; }

    // Whether the open capture can be shown in a RAW mode (RAW colour when bColour), asked without
    // switching modes or telling anyone: the frames decode to 24 bits, the width is a positive
    // multiple of 4, the first stored frame holds a whole sensor plane, and in RAW colour the
    // chosen algorithm takes a frame of this size. When not, *pReason says why, in words.
    bool CanShowRaw(bool bColour, std::string* pReason = nullptr) const;

    // While an export runs, what the video source would tell the user (a frame that cannot be
    // read, say) is kept in *pHeld instead, so the export can report it once at its end rather
    // than in a box per frame. Null shows messages again.
    void HoldMessages(std::vector<kestro::ui::Message>* pHeld) { m_pHeldMessages = pHeld; }

    // An export looks at this flag before each frame and stops once it is set (Ctrl+C on the
    // command line), leaving no unfinished file behind. Null: it never stops early.
    void SetStopFlag(const std::atomic<bool>* pStop) { m_pStop = pStop; }
    bool StopRequested() const { return m_pStop != nullptr && m_pStop->load(std::memory_order_relaxed); }

    // The export engines (source/export, library kestro_export). Each walks every frame index,
    // calls pfnStep once per index, takes the frames pfnTake accepts that hold data, and writes
    // them as GetFrameBitmap renders them in the current display mode. They return true when every
    // such frame was written. When pReport is given it receives what happened and the caller tells
    // the user; without one the engine shows its one message itself.
    //
    // One AVI file at 5 frames per second.
    bool SaveFramesAsAvi(std::string strPath, FramePredicate pfnTake = {}, ProgressCallback pfnStep = {},
                         ExportReport* pReport = nullptr);
    // A BMP file per frame: the path's name + "_0000", "_0001", ... + the path's extension.
    bool SaveFramesAsBmp(std::string strPath, FramePredicate pfnTake = {}, ProgressCallback pfnStep = {},
                         ExportReport* pReport = nullptr);
    // One SER file. In the RAW modes it holds the stored sensor plane at the depth the capture
    // stores it, with the colour id of the pattern chosen; in Normal the picture as shown, 8-bit
    // BGR or, for grey pictures, MONO. Frame times are kept when the capture has them.
    bool SaveFramesAsSer(std::string strPath, FramePredicate pfnTake = {}, ProgressCallback pfnStep = {},
                         ExportReport* pReport = nullptr);
    // The current frame as one BMP file.
    bool WriteBmpFile(std::string strPath, ExportReport* pReport = nullptr);
    // Three 8-bit AVI files at 2 frames per second, the blue, green and red planes of 24-bit
    // frames: the path without its extension + "_b.avi", "_g.avi", "_r.avi".
    bool SaveRgbChannels(std::string strPath, FramePredicate pfnTake = {}, ProgressCallback pfnStep = {},
                         ExportReport* pReport = nullptr);
    // FITS images, each the sum of a block of nBlockSize frames taken as 8-bit grey values: the
    // path + "_0000", "_0001", ... before its extension, and ".fit". The last block may be short.
    bool SaveFitsBlocks(std::string strPath, std::uint32_t nBlockSize, FramePredicate pfnTake = {},
                        ProgressCallback pfnStep = {}, ExportReport* pReport = nullptr);
    // Adds the current frame, in grey, to the sum; false when there is no picture or it is not the
    // sum's size.
    bool AddFrameToSum(CSumImage& sum);
    // Saves the sum as strName + ".fit"; false, with the reason in *pError, when it cannot be.
    bool SaveFitsFile(const CSumImage& sum, std::string strName, std::string* pError = nullptr);

private:
    // What WriteBmpFile and AddFrameToSum do with the current frame's bitmap, for an engine that
    // has it rendered already: rendering it again would read and convert the frame twice. The BMP
    // file is recorded in the series' report: among its files, or as the failure that names the
    // frame and the files written before it.
    bool WriteBmpFile(const std::string& strPath, const BITMAPINFOHEADER& bitmap, ExportReport& report);
    bool AddFrameToSum(CSumImage& sum, const BITMAPINFOHEADER& bitmap);

    // Tells the user, or keeps the message while they are held.
    void Tell(const std::string& strText, const std::string& strCaption);
    void Tell(const kestro::video::VideoMessage& m);
    template <class... Values> void TellFormatted(const kestro::video::VideoMessage& m, Values... values);
    // Shows the message (its text followed by detail, then the services' reason on a line of
    // its own when they gave one), closes and returns false.
    bool Fail(const kestro::video::VideoMessage& m, const std::string& detail = {});
    // Tells what went wrong with one frame, once for each frame of the open capture: a frame
    // shown again (a repaint, a resize) is not told about again.
    template <class... Values>
    void TellAboutFrame(std::int32_t nFrame, const kestro::video::VideoMessage& m, Values... values);
    void TellAboutFrame(std::int32_t nFrame, const std::string& strText, const std::string& strCaption);
    // Bytes stored for the first frame with data, or -1 when the services cannot tell.
    std::int64_t FirstSampleBytes(std::int32_t* pFrame) const;
    // The format the RAW modes build their images from: the decoded format of an AVI file, a
    // 24-bit frame of the capture's size for SER.
    BITMAPINFOHEADER RawFormat() const;

    // The SER side (video_source_ser.cpp).
    bool OpenSer(std::string strFileName);
    const BITMAPINFOHEADER* SerPicture();
    bool ReadSerPlane(std::size_t nWidth, std::size_t nHeight, std::uint8_t* pRows, std::int64_t nStride);
    bool ReadSerRows(std::int32_t nFrame, std::int32_t nFirstRow, std::int32_t nRows, std::uint8_t* pDst,
                     std::ptrdiff_t nStride, ReadFailure* pFailure) const;
    // Why this SER capture cannot be shown in a RAW mode (RAW colour when bColour) beyond what
    // every capture is checked for, in words; empty when it can.
    std::string SerRawRefusal(bool bColour) const;
    // The same, told to the user when it cannot.
    bool SerRawAllowed(bool bColour);
    // The decoded bitmap of the current frame, decoding it now if GoToFrame moved since.
    const BITMAPINFOHEADER* DecodedFrame();
    bool CreateRawImages(const BITMAPINFOHEADER& frame);
    bool ReadStoredPlane(std::size_t nWidth, std::size_t nHeight, std::uint8_t* pRows, std::int64_t nStride);
    // The services number a stream's samples from its header's start, which may be anything;
    // frames are numbered from 0 everywhere else, as the list shows them and the exports count
    // them, so that a stream that starts at 3 still has all its frames.
    LONG PositionOf(std::int32_t nFrame) const { return static_cast<LONG>(std::int64_t{m_lStart} + nFrame); }
    std::int32_t FrameAt(LONG lPosition) const { return lPosition < 0 ? -1 : lPosition - m_lStart; }

    AviReadServices m_avi;

    std::string m_strFileName;
    PAVIFILE m_pFile = nullptr;
    PAVISTREAM m_pStream = nullptr;
    AVISTREAMINFOA m_streamInfo{};
    PGETFRAME m_pGetFrame = nullptr;
    // The stream's first sample position; the last frame (length - 1) and the current frame
    // are frame numbers, counted from 0.
    std::int32_t m_lStart = -1;
    std::int32_t m_lLast = -1;
    std::int32_t m_lCurrent = -1;

    // The decoded bitmap, not owned: it lives in the decoder until its next decode. Decoding
    // waits until someone needs the picture, because the RAW modes read the stored sample and
    // never look at it; m_lFramePos is the position whose picture m_pFrame should show.
    const BITMAPINFOHEADER* m_pFrame = nullptr;
    std::int32_t m_lFramePos = -1;
    bool m_bFrameStale = false;
    // The decoded format, taken from the first frame at Open: the RAW modes need its size and
    // bit depth without decoding each frame.
    BITMAPINFOHEADER m_frameFormat{};

    COwnedBitmap m_pRawImage;
    COwnedBitmap m_pColourImage;
    COwnedBitmap m_pGreyImage;
    // The sensor plane of the RAW modes as stored, kept between calls so that stepping through a
    // file does not allocate (and fault in) a frame's worth of memory per frame.
    COwnedBitmap m_readBuffer;
    // Frames of the open capture whose read failure the user has been told about.
    std::set<std::int32_t> m_framesTold;

    // The open SER capture, with its renderer; both null for an AVI file. The Normal picture of a
    // SER frame is made here (m_pFrame points into it), where the AVI decoder keeps its own.
    std::unique_ptr<kestro::ser::SerReader> m_pSer;
    std::unique_ptr<kestro::video::SerFrames> m_pSerFrames;
    COwnedBitmap m_serPicture;
    std::optional<kestro::ser::ByteOrder> m_byteOrderChoice;

    std::vector<kestro::ui::Message>* m_pHeldMessages = nullptr;
    const std::atomic<bool>* m_pStop = nullptr;
};
