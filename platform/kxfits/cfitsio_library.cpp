#include "cfitsio_library.h"

#include "opened_library.h"

// A function left out of the table below would stay a null pointer and crash the first save that
// calls it; the compiler is made to refuse that instead.
#pragma GCC diagnostic error "-Wmissing-field-initializers"

namespace kestro::kxfits {

using dynlib::OpenedLibrary;

std::string cfitsioName() { return "libcfitsio.so." + std::to_string(CFITSIO_SONAME); }

CfitsioLoad loadCfitsio(const std::string& name)
{
    CfitsioLoad load;
    OpenedLibrary opened(name, load.error);

// The member, the symbol and its type on one line, so that none of the three can drift.
#define KESTRO_FIND(member, symbol) .member = opened.find<decltype(&::symbol)>(#symbol)
    // clang-format off
    const CfitsioLibrary library{
        KESTRO_FIND(create_diskfile, ffdkinit),
        KESTRO_FIND(close_file, ffclos),
        KESTRO_FIND(clear_errmsg, ffcmsg),
        KESTRO_FIND(get_errstatus, ffgerr),
        KESTRO_FIND(create_img, ffcrim),
        KESTRO_FIND(write_key_str, ffpkys),
        KESTRO_FIND(write_key_longstr, ffpkls),
        KESTRO_FIND(write_key_longwarn, ffplsw),
        KESTRO_FIND(write_key_lng, ffpkyj),
        KESTRO_FIND(write_key_dbl, ffpkyd),
        KESTRO_FIND(write_comment, ffpcom),
        KESTRO_FIND(write_history, ffphis),
        KESTRO_FIND(get_hdrspace, ffghsp),
        KESTRO_FIND(read_record, ffgrec),
        KESTRO_FIND(set_hdustruc, ffrdef),
        KESTRO_FIND(get_hduaddrll, ffghadll),
        KESTRO_FIND(write_img, ffppr),
    };
    // clang-format on
#undef KESTRO_FIND

    if (!load.error.empty())
        return load;
    // Never unloaded: unloading at exit would only cost time.
    opened.keep();
    load.library = library;
    return load;
}

const CfitsioLoad& cfitsio()
{
    static const CfitsioLoad load = loadCfitsio(cfitsioName());
    return load;
}

} // namespace kestro::kxfits
