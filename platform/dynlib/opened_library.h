// A shared library opened at run time, for the optional libraries (FFmpeg, CFITSIO) that only some
// work needs: the programs start without them and say in words what is missing when that work
// begins.
#pragma once

#include <dlfcn.h>

#include <memory>
#include <string>

namespace kestro::dynlib {

struct LibraryCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

// One opened library. The first thing that could not be found is kept in error, and every lookup
// after it gives null; an error already set when it is made (a library opened before it failed)
// keeps it from opening anything, so several libraries can share one error.
class OpenedLibrary {
public:
    OpenedLibrary(const std::string& name, std::string& error) : m_error(error)
    {
        if (!m_error.empty())
            return;
        // Every symbol bound now: a library that does not fit its dependencies fails here, in
        // words, instead of aborting the process at its first call.
        m_handle.reset(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!m_handle)
            fail(name + ": cannot be loaded");
    }

    template <class Function> Function find(const char* symbol)
    {
        if (!m_error.empty())
            return nullptr;
        dlerror();
        void* address = dlsym(m_handle.get(), symbol);
        if (!address) {
            fail(std::string("no ") + symbol);
            return nullptr;
        }
        return reinterpret_cast<Function>(address);
    }

    // Leaves the library loaded for the rest of the process: the functions found in it are kept
    // in tables that outlive this object.
    void keep() { static_cast<void>(m_handle.release()); }

private:
    void fail(const std::string& fallback)
    {
        const char* why = dlerror();
        m_error = why ? why : fallback;
    }

    LibraryHandle m_handle;
    std::string& m_error;
};

} // namespace kestro::dynlib
