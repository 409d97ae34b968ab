// One question the program can put to a person (a message box, a file dialog, the parameters of
// an export) as a seam: the code that needs the answer asks the seam; the program installs a
// handler that shows the real window, tests install one that answers from a script, and while no
// handler is installed the seam's fallback answers, so tools and headless runs never block.
// Every seam is used from the interface thread only.
#pragma once

#include <functional>
#include <utility>

namespace kestro::ui {

template <class Request, class Reply> class DialogSeam {
public:
    using Handler = std::function<Reply(const Request&)>;
    // The answer when nobody can be asked.
    using Fallback = Reply (*)(const Request&);

    explicit DialogSeam(Fallback fallback) : m_fallback(fallback) {}
    DialogSeam(const DialogSeam&) = delete;
    DialogSeam& operator=(const DialogSeam&) = delete;

    Reply ask(const Request& request) const { return m_handler ? m_handler(request) : m_fallback(request); }

    // Installs a handler and returns the one it replaces; an empty handler brings back the fallback.
    Handler replace(Handler handler) { return std::exchange(m_handler, std::move(handler)); }

    // Answers through a handler of its own while it lives and puts the one it replaced back when it
    // goes; overrides nest.
    class Override {
    public:
        Override(DialogSeam& seam, Handler handler) : m_seam(seam), m_previous(seam.replace(std::move(handler))) {}
        ~Override() { m_seam.replace(std::move(m_previous)); }
        Override(const Override&) = delete;
        Override& operator=(const Override&) = delete;

    private:
        DialogSeam& m_seam;
        Handler m_previous;
    };

private:
    Handler m_handler;
    Fallback m_fallback;
};

} // namespace kestro::ui
