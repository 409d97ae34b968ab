// Holds an export's worker at one of its frames, so that a test can look at the window while the
// export runs and press Cancel or Esc at a known point: the worker waits there until released or
// asked to stop.
#pragma once

#include "export_runner.h"
#include "kestro_doc.h"
#include "shell_fixture.h"

#include <QDeadlineTimer>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

class ExportGate {
public:
    ExportGate(const ShellFixture& f, std::int32_t nStep) : m_fixture(f), m_pState(std::make_shared<State>())
    {
        // The worker holds the state too: it may outlive this object by a frame.
        f.doc().GetExports().SetStepHook([pState = m_pState, nStep](std::int32_t n, const std::atomic<bool>& bStop) {
            if (n != nStep)
                return;
            pState->bReached = true;
            while (!pState->bReleased && !bStop.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }
    ~ExportGate()
    {
        release();
        // The document of now: a test that restarted the program has a new one, the gated one
        // is gone.
        m_fixture.doc().GetExports().SetStepHook({});
    }
    ExportGate(const ExportGate&) = delete;
    ExportGate& operator=(const ExportGate&) = delete;

    // Lets the window's event loop run until the worker waits at the gate; false if it has not
    // after a minute.
    bool waitUntilReached() const
    {
        const QDeadlineTimer deadline(60000);
        while (!m_pState->bReached) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(5);
        }
        return true;
    }
    void release() { m_pState->bReleased = true; }

private:
    struct State {
        std::atomic<bool> bReached{false};
        std::atomic<bool> bReleased{false};
    };
    const ShellFixture& m_fixture;
    std::shared_ptr<State> m_pState;
};
