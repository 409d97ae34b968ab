// Holders for the handles of the AVI file services: each releases its handle through the
// services' own release operation when it goes, so that a reader or writer that returns early,
// or a test that fails an assertion half-way, cannot leave a file open or a decoder running. The
// release operations stay the public API; these only call them.
//
// Declare the file first, then its streams, then their decoders: members and locals go in the
// reverse order, so a decoder is closed before its stream and a stream before its file.
#pragma once

#include "avifile.h"

#include <utility>

namespace kestro::avi {

template <class H, auto Release> class Handle {
public:
    Handle() = default;
    // Takes over a handle an operation returned (AVIStreamGetFrameOpen hands its decoder back).
    explicit Handle(H h) : m_h(h) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_h = std::exchange(other.m_h, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    H get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    // For the operations that hand a new handle out through a pointer: whatever was held is
    // released first.
    H* out()
    {
        reset();
        return &m_h;
    }
    // Gives the handle up to a caller who releases it.
    H detach() { return std::exchange(m_h, nullptr); }
    void reset()
    {
        if (m_h)
            Release(std::exchange(m_h, nullptr));
    }

private:
    H m_h = nullptr;
};

using FileHandle = Handle<PAVIFILE, &AVIFileRelease>;
using StreamHandle = Handle<PAVISTREAM, &AVIStreamRelease>;
using GetFrameHandle = Handle<PGETFRAME, &AVIStreamGetFrameClose>;

// AVIFileInit now and AVIFileExit when it goes. Declared before the handles it covers.
class Session {
public:
    Session() { AVIFileInit(); }
    ~Session() { AVIFileExit(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

} // namespace kestro::avi
