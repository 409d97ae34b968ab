#include "kxfits.h"

#include "cfitsio_library.h"
#include "header_cards.h"
#include "staged_file.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

// The image's values reach CFITSIO as TUINT, its name for unsigned int.
static_assert(sizeof(unsigned int) == sizeof(std::uint32_t));

namespace {

using kestro::fileio::StagedFile;
using kestro::kxfits::CfitsioLibrary;

constexpr const char* kProgram = "Kestro";

// Only a file CFITSIO opened is ever held, so the library is loaded whenever one is closed.
struct FitsCloser {
    void operator()(fitsfile* file) const
    {
        const CfitsioLibrary& fits = *kestro::kxfits::cfitsio().library;
        int status = 0;
        fits.close_file(file, &status);
        fits.clear_errmsg();
    }
};
using FitsHandle = std::unique_ptr<fitsfile, FitsCloser>;

// A run of CFITSIO calls that stops at the first failure and keeps errno as that call left it:
// CFITSIO reports a failed write or create only as its own status, and errno is the one place the
// operating system's reason survives.
struct FitsSteps {
    int status = 0;
    int osError = 0;

    template <class Call> void operator()(Call call)
    {
        if (status != 0)
            return;
        errno = 0;
        call(&status);
        if (status != 0)
            osError = errno;
    }
};

// The statuses CFITSIO gives when a file operation of the operating system failed. Other failures
// leave errno meaningless, as CFITSIO's successful calls may set it on the way.
bool isFileStatus(int status)
{
    switch (status) {
    case FILE_NOT_OPENED:
    case FILE_NOT_CREATED:
    case FILE_NOT_CLOSED:
    case READ_ERROR:
    case WRITE_ERROR:
    case END_OF_FILE:
    case SEEK_ERROR: return true;
    default: return false;
    }
}

// Now, in UTC, as FITS dates are written; or the time SOURCE_DATE_EPOCH gives (seconds since 1970),
// the convention of reproducible builds, so that two exports of the same frames can be compared
// byte for byte.
std::string fileDate()
{
    std::time_t when = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        errno = 0;
        const long long seconds = std::strtoll(epoch, &end, 10);
        if (end != epoch && *end == '\0' && errno == 0 && seconds >= 0)
            when = static_cast<std::time_t>(seconds);
    }
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return text;
}

std::string osReason(int osError) { return std::system_category().message(osError); }

// The declared width when every value fits it, else the narrowest of 16 and 32 bits that holds
// them all: unsigned in each case, through CFITSIO's BZERO offset for 16 and 32 bits.
int imageType(int declaredBitpix, std::uint32_t largest)
{
    if (declaredBitpix == 8 && largest <= 0xFFu)
        return BYTE_IMG;
    if (declaredBitpix <= 16 && largest <= 0xFFFFu)
        return USHORT_IMG;
    return ULONG_IMG;
}

} // namespace

void kxFitsImgParam::set_params(int bitpix, int naxis, int width, int height)
{
    m_bitpix = bitpix;
    m_naxis = naxis;
    m_width = width;
    m_height = height;
}

bool kxFitsFile::saveToFile(const std::string& fileName, const std::uint32_t* image, saveOptions* options)
{
    m_lastError.clear();
    const auto fail = [&](const std::string& why) {
        m_lastError = (fileName.empty() ? std::string("FITS file") : fileName) + ": " + why;
        return false;
    };

    if (fileName.empty())
        return fail("no file name given");
    if (std::filesystem::path(fileName).filename().empty())
        return fail("the name is a folder's, not a file's");
    if (!image)
        return fail("no image to save");
    if (m_params.naxis() != 2)
        return fail("the image must have 2 axes, not " + std::to_string(m_params.naxis()));
    if (m_params.width() < 1 || m_params.height() < 1)
        return fail("the image is " + std::to_string(m_params.width()) + " x " + std::to_string(m_params.height()) +
                    " pixels; it needs at least 1 x 1");
    const int bitpix = m_params.bitpix();
    if (bitpix != 8 && bitpix != 16 && bitpix != 32)
        return fail("BITPIX " + std::to_string(bitpix) + " is refused; values are stored in 8, 16 or 32 bits");
    static const std::vector<headerCard> noCards;
    const std::vector<headerCard>& cards = options ? options->cards : noCards;
    if (const std::string why = kestro::kxfits::checkCards(cards); !why.empty())
        return fail(why);

    const auto width = static_cast<std::size_t>(m_params.width());
    const auto height = static_cast<std::size_t>(m_params.height());
    const std::uint32_t largest = *std::max_element(image, image + width * height);

    const kestro::kxfits::CfitsioLoad& loaded = kestro::kxfits::cfitsio();
    if (!loaded.library)
        return fail("FITS files cannot be written without CFITSIO: " + loaded.error);
    const CfitsioLibrary& fits = *loaded.library;

    StagedFile staged(fileName);
    int osError = 0;
    if (!staged.create(&osError))
        return fail("cannot create a file in its folder: " + osReason(osError));
    // CFITSIO's disk-file call creates the file itself and refuses a name that exists. It creates it
    // with fopen, which leaves the permissions to the umask as the reservation did.
    staged.yield();

    const std::string creator = options && !options->version.empty()
                                    ? std::string(kProgram) + " " + kestro::kxfits::headerText(options->version)
                                    : std::string(kProgram);
    FitsSteps step;
    FitsHandle file;
    step([&](int* s) {
        // The disk-file call takes the name as it stands, without CFITSIO's filter and extension syntax.
        fitsfile* raw = nullptr;
        fits.create_diskfile(&raw, staged.tempPath().c_str(), s);
        file.reset(raw);
        if (*s == 0)
            staged.reclaim();
    });
    long axes[2] = {static_cast<long>(width), static_cast<long>(height)};
    step([&](int* s) { fits.create_img(file.get(), imageType(bitpix, largest), 2, axes, s); });
    step([&](int* s) {
        fits.write_key_str(file.get(), "DATE", fileDate().c_str(), "file creation date (YYYY-MM-DDThh:mm:ss UT)", s);
    });
    step(
        [&](int* s) { fits.write_key_str(file.get(), "CREATOR", creator.c_str(), "program that wrote this file", s); });
    step([&](int* s) {
        fits.write_key_str(file.get(), "ROWORDER", "BOTTOM-UP", "first stored row is the bottom of the picture", s);
    });
    step([&](int* s) { kestro::kxfits::writeCards(fits, file.get(), cards, s); });
    // With the header complete CFITSIO knows where the data end, which is the size the finished file
    // must have.
    LONGLONG headerStart = 0, dataStart = 0, fileSize = 0;
    step([&](int* s) { fits.set_hdustruc(file.get(), s); });
    step([&](int* s) { fits.get_hduaddrll(file.get(), &headerStart, &dataStart, &fileSize, s); });
    if (step.status == 0 && !staged.makeRoom(static_cast<std::uint64_t>(fileSize), &osError))
        return fail("no room for its " + std::to_string(fileSize) + " bytes: " + osReason(osError));

    // FITS row 1 is the bottom of the picture: the image's last row goes first.
    std::vector<std::uint32_t> row(width);
    for (std::size_t fitsRow = 0; fitsRow < height && step.status == 0; ++fitsRow) {
        const std::uint32_t* source = image + (height - 1 - fitsRow) * width;
        // CFITSIO takes the values through a non-const pointer; it gets a copy it may touch.
        std::copy(source, source + width, row.begin());
        step([&](int* s) {
            fits.write_img(file.get(), TUINT, static_cast<LONGLONG>(fitsRow * width + 1), static_cast<LONGLONG>(width),
                           row.data(), s);
        });
    }
    step([&](int* s) { fits.close_file(file.release(), s); });

    if (step.status != 0) {
        char text[FLEN_STATUS] = {};
        fits.get_errstatus(step.status, text);
        fits.clear_errmsg();
        std::string why = std::string("CFITSIO could not write it: ") + text;
        if (isFileStatus(step.status) && step.osError != 0)
            why += " (" + osReason(step.osError) + ")";
        return fail(why);
    }
    // CFITSIO's file driver loses a failed flush of its last buffered bytes (the C library drops
    // them and the close then succeeds), so a disk that filled up after the room was set aside, or
    // one that cannot set room aside, shows only as a short file.
    const std::int64_t onDisk = staged.size(&osError);
    if (onDisk < 0)
        return fail("cannot check the written file: " + osReason(osError));
    if (onDisk != fileSize) {
        std::string why = std::to_string(onDisk) + " of its " + std::to_string(fileSize) + " bytes reached the disk";
        if (onDisk < fileSize && staged.folderShortOf(static_cast<std::uint64_t>(fileSize - onDisk)))
            why += ": " + osReason(ENOSPC);
        return fail(why);
    }
    if (!staged.commit(&osError))
        return fail("cannot put the written file in place: " + osReason(osError));
    return true;
}
