#include "export_job.h"

#include "progress_bar.h"

#include <filesystem>
#include <utility>
#include <vector>

using kestro::exports::ExportKind;

CExportJob::DisplaySettings CExportJob::DisplaySettings::Of(const CVideoSource& source)
{
    return {source.m_bRaw,
            source.m_bRawColour,
            source.m_bGreyscale,
            source.m_converter.GetPattern(),
            source.m_converter.GetAlgorithm(),
            source.GetByteOrderChoice()};
}

void CExportJob::DisplaySettings::ApplyTo(CVideoSource& source) const
{
    source.m_bRaw = bRaw;
    source.m_bRawColour = bRawColour;
    source.m_bGreyscale = bGreyscale;
    source.m_converter.SetPattern(nPattern);
    source.m_converter.SetAlgorithm(nAlgorithm);
    source.SetByteOrder(byteOrder);
}

CExportJob::CExportJob(std::string strCapture, const DisplaySettings& settings, kestro::exports::ExportRequest request,
                       StepHook hook, std::function<void()> onEnded)
    : m_strCapture(std::move(strCapture)),
      m_settings(settings),
      m_request(std::move(request)),
      m_hook(std::move(hook)),
      m_onEnded(std::move(onEnded))
{
    // Last, once everything the worker reads is in place.
    m_thread = std::thread([this] { Run(); });
}

CExportJob::~CExportJob()
{
    Cancel();
    Wait();
}

void CExportJob::Cancel() { m_bStop.store(true, std::memory_order_relaxed); }

void CExportJob::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

void CExportJob::Run()
{
    ExportReport report;
    // Messages of the worker's video source, the opening's included: a box shown from here
    // would be a widget made off the interface thread.
    std::vector<kestro::ui::Message> held;
    {
        CVideoSource source;
        source.HoldMessages(&held);
        if (!source.Open(m_strCapture)) {
            // The capture changed or went since the window opened it.
            report.strCapture = std::filesystem::path(m_strCapture).filename().string();
            kestro::ui::Message m = held.empty() ? kestro::ui::Message{"Unable to open " + m_strCapture + ".",
                                                                       "AVIFileOpen", kestro::ui::Icon::Warning}
                                                 : held.front();
            m.text += "\nNothing was written.";
            report.failure = std::move(m);
        } else {
            m_settings.ApplyTo(source);
            source.SetStopFlag(&m_bStop);
            std::int32_t nStep = 0;
            const ProgressCallback step = [this, &nStep] {
                StepExportProgress();
                if (m_hook)
                    m_hook(nStep++, m_bStop);
            };
            const std::string& path = m_request.strPath;
            switch (m_request.kind) {
            case ExportKind::Avi: source.SaveFramesAsAvi(path, m_request.pfnTake, step, &report); break;
            case ExportKind::Bmp: source.SaveFramesAsBmp(path, m_request.pfnTake, step, &report); break;
            case ExportKind::Rgb: source.SaveRgbChannels(path, m_request.pfnTake, step, &report); break;
            case ExportKind::Ser: source.SaveFramesAsSer(path, m_request.pfnTake, step, &report); break;
            case ExportKind::Fits:
                source.SaveFitsBlocks(path, m_request.nBlockSize, m_request.pfnTake, step, &report);
                break;
            }
            // The engine holds messages for its own length only; closing must not show one either.
            source.HoldMessages(&held);
        }
    }
    m_report = std::move(report);
    if (m_onEnded)
        m_onEnded();
}
