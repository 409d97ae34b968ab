// One export run on a thread of its own, so that the window goes on repainting and taking clicks
// (its Cancel button among them) while the frames are written.
//
// The worker has a video source of its own, opened on the capture the window shows, with the
// display settings the window had when the export started. Nothing the worker touches is shared
// with the interface thread but the stop flag and the step counter behind StepExportProgress,
// both atomic: the window's video source, its frame list and its widgets stay on the interface
// thread, and a display control changed meanwhile changes the picture on show, not the export.
// What the worker's video source would tell is held and comes back in the report, to be told
// once by the window at the end; no message box is ever shown from the worker.
#pragma once

#include "export_frames.h"
#include "export_report.h"
#include "video_source.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

class CExportJob {
public:
    // What the frames are rendered in: the display mode, greyscale, pattern and algorithm.
    struct DisplaySettings {
        bool bRaw = false;
        bool bRawColour = false;
        bool bGreyscale = false;
        std::int32_t nPattern = 0;
        std::int32_t nAlgorithm = CCfaConverter::kOwnAlgorithm;
        // The byte order the user chose for a SER capture's 16-bit samples; none: the data's.
        std::optional<kestro::ser::ByteOrder> byteOrder;

        static DisplaySettings Of(const CVideoSource& source);
        void ApplyTo(CVideoSource& source) const;
    };
    // Called on the worker once per source frame, after StepExportProgress, with the step's
    // number from 0 and the stop flag. Tests hold the worker at a frame with it.
    using StepHook = std::function<void(std::int32_t nStep, const std::atomic<bool>& bStop)>;

    // Starts the worker at once. onEnded is called on the worker as its last act, once the
    // report is complete; it must only hand the news to the interface thread.
    CExportJob(std::string strCapture, const DisplaySettings& settings, kestro::exports::ExportRequest request,
               StepHook hook, std::function<void()> onEnded);
    // Stops the worker before its next frame and waits for it.
    ~CExportJob();
    CExportJob(const CExportJob&) = delete;
    CExportJob& operator=(const CExportJob&) = delete;

    // Asks the worker to stop before its next frame; returns at once. The export then leaves
    // no unfinished file.
    void Cancel();
    bool IsCancelled() const { return m_bStop.load(std::memory_order_relaxed); }
    // Waits for the worker to end; afterwards the report may be read.
    void Wait();
    // What the export did. Only after Wait.
    const ExportReport& GetReport() const { return m_report; }

private:
    void Run();

    const std::string m_strCapture;
    const DisplaySettings m_settings;
    const kestro::exports::ExportRequest m_request;
    const StepHook m_hook;
    const std::function<void()> m_onEnded;
    std::atomic<bool> m_bStop{false};
    // Written by the worker alone, read after it was joined.
    ExportReport m_report;
    std::thread m_thread;
};
