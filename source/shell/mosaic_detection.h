// Runs the Bayer-order detector on the capture on show, on a thread of its own, and hands its
// answer to the window's thread.
//
// The detector opens the file itself with a video source that tells no one, so the picture never
// waits for it and a file it cannot read says nothing twice. Every run has a generation number:
// an answer posted by a run that has since been stopped (another capture opened, the capture
// closed) finds a newer generation when it arrives and is dropped.
#pragma once

#include "mosaic_detect.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class CMosaicDetection : public QObject {
    Q_OBJECT
public:
    using Detector = std::function<kestro::video::MosaicGuess(
        const std::string& path, std::optional<kestro::ser::ByteOrder> byteOrder, const std::atomic<bool>* stop)>;
    // Receives the answer for `path` on the window's thread.
    using Answer = std::function<void(const std::string& path, const kestro::video::MosaicGuess& guess)>;

    explicit CMosaicDetection(Answer onAnswer, QObject* pParent = nullptr);
    // Stops a run and waits for it: the detector looks at the stop flag between frames, so that
    // is the read of one frame at most.
    ~CMosaicDetection() override;

    // Stops any run and starts one on the capture at `path`.
    void Start(const std::string& path, std::optional<kestro::ser::ByteOrder> byteOrder);
    // Stops any run; its answer, should it come, is dropped.
    void Stop();
    bool IsRunning() const { return m_bRunning; }

    // The function that looks at the data; the real detector unless a test puts another here.
    void SetDetector(Detector detector) { m_detect = std::move(detector); }
    // The function detections made from now on start with; empty: the real detector. The window
    // tests that are about something else put one here that finds nothing, so that no bar comes
    // and goes above the picture they look at.
    static void SetDefaultDetector(Detector detector);

private:
    void Deliver(std::uint64_t nGeneration, const std::string& path, const kestro::video::MosaicGuess& guess);

    Answer m_onAnswer;
    Detector m_detect;
    std::thread m_thread;
    // Shared with the thread, which may still test it while a newer run starts.
    std::shared_ptr<std::atomic<bool>> m_pStop;
    std::uint64_t m_nGeneration = 0;
    bool m_bRunning = false;
};
