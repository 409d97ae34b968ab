// Playback: shows the frames of the open capture one after another, as a film, so the seeing can
// be watched coming and going before frames are ticked.
//
// Each step moves the frame list's current row, the way a Down key does, so the list, the
// status bar and the picture follow by their usual path. A step is taken only once the picture
// of the one before has been painted: at a fixed rate a tick whose frame is still on its way
// waits for it rather than piling up renders, and "as fast as possible" steps on the paint
// itself. Frames stored empty are passed over (they would show the frame before them again), and
// with "Ticked frames only" so are the unticked ones. A click or a key in the list, or opening a
// capture, stops playback; it never writes anything.
#pragma once

#include <QObject>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class CKestroDoc;
class CKestroView;
class CLeftView;
class CVideoSource;

// What paces playback. The window's clock is a timer; tests tick theirs by hand.
class CPlaybackClock {
public:
    virtual ~CPlaybackClock() = default;
    // Calls the tick handler every interval until Stop; a second Start replaces the interval.
    virtual void Start(std::chrono::microseconds interval) = 0;
    virtual void Stop() = 0;
    void SetTickHandler(std::function<void()> onTick) { m_onTick = std::move(onTick); }

protected:
    void Tick() const
    {
        if (m_onTick)
            m_onTick();
    }

private:
    std::function<void()> m_onTick;
};

class CPlayback : public QObject {
    Q_OBJECT
public:
    // The rates of the Playback menu in frames per second, and two that are not numbers.
    static constexpr int kOwnRate = 0;
    static constexpr int kFastest = -1;
    static constexpr std::array<int, 5> kFixedRates{5, 10, 25, 50, 100};
    // A capture that says nothing of its rate plays at this one.
    static constexpr double kDefaultRate = 25.0;
    // "As fast as possible" steps on each paint; its clock only makes sure a picture that is
    // never painted (a minimised window) does not stop playback for good.
    static constexpr std::chrono::milliseconds kStallTime{500};

    CPlayback(CKestroDoc& doc, CLeftView& list, CKestroView& view, QObject* pParent = nullptr);
    ~CPlayback() override;

    // Replaces the clock (tests); playback stops first.
    void SetClock(std::unique_ptr<CPlaybackClock> pClock);

    bool IsPlaying() const { return m_bPlaying; }
    // Starts from the frame on show; at the last frame to play, from the first. Nothing happens
    // without a capture or without a frame to play.
    void Play();
    void Stop();
    void Toggle();

    // kOwnRate, kFastest or one of kFixedRates; takes effect at once while playing.
    void SetRate(int nRate);
    int GetRate() const { return m_nRate; }
    void SetLoop(bool bLoop);
    bool IsLoop() const { return m_bLoop; }
    void SetTickedOnly(bool bTickedOnly);
    bool IsTickedOnly() const { return m_bTickedOnly; }

    // The rate a capture was recorded at: an AVI stream's rate over its scale, a SER capture's
    // frame times from first to last; kDefaultRate when it says nothing usable.
    static double CaptureRate(const CVideoSource& source);
    // The row playback shows after nRow: the next frame holding data (and ticked, with "Ticked
    // frames only"), with Loop from the start again; -1 when there is none.
    std::int32_t NextRow(std::int32_t nRow) const;

    // Whether the frame stepped to last has yet to be painted.
    bool IsWaitingForPicture() const { return m_bWaiting; }
    // Steps taken since the capture opened, and of them those taken while the frame view still
    // had a render waiting: a sign of steps outrunning the pictures, which should stay 0.
    std::uint64_t GetSteps() const { return m_nSteps; }
    std::uint64_t GetStepsOverPendingRender() const { return m_nStepsOverPending; }

signals:
    // Playing or stopped, or a setting changed: the menu items and the button show it.
    void stateChanged();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    // The first row in [nFrom, nTo) that playback shows, or -1.
    std::int32_t FirstPlayable(std::int32_t nFrom, std::int32_t nTo) const;
    void StartClock();
    void OnTick();
    void OnPictureShown();
    void Step();
    // Ticks the clock may go by while a picture is awaited before playback steps regardless.
    int StallTicks() const;
    std::chrono::microseconds Interval() const;

    CKestroDoc& m_doc;
    CLeftView& m_list;
    CKestroView& m_view;
    std::unique_ptr<CPlaybackClock> m_pClock;
    bool m_bPlaying = false;
    int m_nRate = kOwnRate;
    bool m_bLoop = false;
    bool m_bTickedOnly = false;
    bool m_bWaiting = false;
    int m_nStalledTicks = 0;
    std::uint64_t m_nSteps = 0;
    std::uint64_t m_nStepsOverPending = 0;
};
