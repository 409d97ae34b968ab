// The CFITSIO functions kxFits calls, taken from the shared library when a file is first saved
// rather than linked. CFITSIO pulls in libcurl with its TLS, Kerberos and LDAP libraries, which
// the dynamic loader would otherwise map before main() in every run of every program, also in
// those that never write a FITS file.
#pragma once

#include <fitsio.h>

#include <optional>
#include <string>

namespace kestro::kxfits {

// CFITSIO's long names (fits_write_key_str) are macros for its real symbols (ffpkys). Each member
// is named after the long name without "fits_", and has the type of the symbol it points to, so
// the header the program was built with checks every call.
struct CfitsioLibrary {
    decltype(&::ffdkinit) create_diskfile;
    decltype(&::ffclos) close_file;
    decltype(&::ffcmsg) clear_errmsg;
    decltype(&::ffgerr) get_errstatus;
    decltype(&::ffcrim) create_img;
    decltype(&::ffpkys) write_key_str;
    decltype(&::ffpkls) write_key_longstr;
    decltype(&::ffplsw) write_key_longwarn;
    decltype(&::ffpkyj) write_key_lng;
    decltype(&::ffpkyd) write_key_dbl;
    decltype(&::ffpcom) write_comment;
    decltype(&::ffphis) write_history;
    decltype(&::ffghsp) get_hdrspace;
    decltype(&::ffgrec) read_record;
    decltype(&::ffrdef) set_hdustruc;
    decltype(&::ffghadll) get_hduaddrll;
    decltype(&::ffppr) write_img;
};

// The functions, or why there are none: dlerror's words, which name the library and, when the
// library is there but lacks a function, that function.
struct CfitsioLoad {
    std::optional<CfitsioLibrary> library;
    std::string error;
};

// The file name to load: the ABI version of the header the program was built with, so the library
// found at run time is one the program was compiled against.
std::string cfitsioName();

// Loads the library and finds every function. It stays loaded once every function is found, and is
// released again when something is missing.
CfitsioLoad loadCfitsio(const std::string& name);

// The process's CFITSIO, loaded by the first call from whichever thread makes it.
const CfitsioLoad& cfitsio();

} // namespace kestro::kxfits
