#include "mosaic_detection.h"

#include <exception>

using kestro::video::MosaicGuess;

namespace {

CMosaicDetection::Detector& DefaultDetector()
{
    static CMosaicDetection::Detector detector;
    return detector;
}

MosaicGuess DetectInFile(const std::string& path, std::optional<kestro::ser::ByteOrder> byteOrder,
                         const std::atomic<bool>* stop)
{
    // A capture the detector cannot open has been refused by the window already, or opened by
    // it: either way the user has heard about it once, and the answer is no advice.
    return kestro::video::DetectMosaic(path, byteOrder, stop);
}

} // namespace

CMosaicDetection::CMosaicDetection(Answer onAnswer, QObject* pParent)
    : QObject(pParent),
      m_onAnswer(std::move(onAnswer)),
      m_detect(DefaultDetector() ? DefaultDetector() : Detector(&DetectInFile))
{
}

void CMosaicDetection::SetDefaultDetector(Detector detector) { DefaultDetector() = std::move(detector); }

CMosaicDetection::~CMosaicDetection() { Stop(); }

void CMosaicDetection::Stop()
{
    // Whatever the old run has posted and not yet delivered now belongs to an old generation.
    ++m_nGeneration;
    m_bRunning = false;
    if (m_pStop)
        m_pStop->store(true);
    if (m_thread.joinable())
        m_thread.join();
    m_pStop.reset();
}

void CMosaicDetection::Start(const std::string& path, std::optional<kestro::ser::ByteOrder> byteOrder)
{
    Stop();
    const std::uint64_t nGeneration = ++m_nGeneration;
    m_pStop = std::make_shared<std::atomic<bool>>(false);
    m_bRunning = true;
    // The thread only posts to this object's thread. It can rely on `this`, because Stop, which
    // the destructor calls, waits for it.
    m_thread = std::thread([this, nGeneration, path, byteOrder, detect = m_detect, pStop = m_pStop] {
        MosaicGuess guess;
        // The answer is advice only: a detector that runs out of memory on a huge frame leaves
        // the capture without it rather than ending the program.
        try {
            guess = detect(path, byteOrder, pStop.get());
        } catch (const std::exception&) {
            guess = MosaicGuess{};
        }
        if (pStop->load())
            return;
        QMetaObject::invokeMethod(
            this, [this, nGeneration, path, guess = std::move(guess)] { Deliver(nGeneration, path, guess); },
            Qt::QueuedConnection);
    });
}

void CMosaicDetection::Deliver(std::uint64_t nGeneration, const std::string& path, const MosaicGuess& guess)
{
    if (nGeneration != m_nGeneration)
        return;
    // The thread has handed in its answer and is returning; joining it takes a moment.
    if (m_thread.joinable())
        m_thread.join();
    m_bRunning = false;
    if (m_onAnswer)
        m_onAnswer(path, guess);
}
