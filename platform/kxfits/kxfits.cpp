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

using Cards = std::vector<kxFitsFile::headerCard>;

// Why the arguments cannot be saved, or empty when they can.
std::string refusal(const std::string& fileName, const std::uint32_t* image, const kxFitsImgParam& params,
                    const Cards& cards)
{
    if (fileName.empty())
        return "no file name given";
    if (std::filesystem::path(fileName).filename().empty())
        return "the name is a folder's, not a file's";
    if (!image)
        return "no image to save";
    if (params.naxis() != 2)
        return "the image must have 2 axes, not " + std::to_string(params.naxis());
    if (params.width() < 1 || params.height() < 1)
        return "the image is " + std::to_string(params.width()) + " x " + std::to_string(params.height()) +
               " pixels; it needs at least 1 x 1";
    const int bitpix = params.bitpix();
    if (bitpix != 8 && bitpix != 16 && bitpix != 32)
        return "BITPIX " + std::to_string(bitpix) + " is refused; values are stored in 8, 16 or 32 bits";
    return kestro::kxfits::checkCards(cards);
}

std::string creatorText(const kxFitsFile::saveOptions* options)
{
    return options && !options->version.empty()
               ? std::string(kProgram) + " " + kestro::kxfits::headerText(options->version)
               : std::string(kProgram);
}

// One image on its way into a staged file through CFITSIO, call after call; after the first
// failure the calls that follow do nothing, and failure() says what went wrong.
class ImageWrite {
public:
    ImageWrite(const CfitsioLibrary& fits, StagedFile& staged) : m_fits(fits), m_staged(staged) {}

    // Creates the file with the image's header: its shape and type, then DATE, CREATOR, ROWORDER and
    // the caller's cards.
    void writeHeader(int imageType, std::size_t width, std::size_t height, const std::string& creator,
                     const Cards& cards)
    {
        m_step([&](int* s) {
            // The disk-file call takes the name as it stands, without CFITSIO's filter and extension
            // syntax.
            fitsfile* raw = nullptr;
            m_fits.create_diskfile(&raw, m_staged.tempPath().c_str(), s);
            m_file.reset(raw);
            if (*s == 0)
                m_staged.reclaim();
        });
        long axes[2] = {static_cast<long>(width), static_cast<long>(height)};
        m_step([&](int* s) { m_fits.create_img(m_file.get(), imageType, 2, axes, s); });
        m_step([&](int* s) {
            m_fits.write_key_str(m_file.get(), "DATE", fileDate().c_str(),
                                 "file creation date (YYYY-MM-DDThh:mm:ss UT)", s);
        });
        m_step([&](int* s) {
            m_fits.write_key_str(m_file.get(), "CREATOR", creator.c_str(), "program that wrote this file", s);
        });
        m_step([&](int* s) {
            m_fits.write_key_str(m_file.get(), "ROWORDER", "BOTTOM-UP", "first stored row is the bottom of the picture",
                                 s);
        });
        m_step([&](int* s) { kestro::kxfits::writeCards(m_fits, m_file.get(), cards, s); });
    }

    // The size the finished file must have: with the header complete CFITSIO knows where the data
    // end. 0 after a failure.
    LONGLONG finishedSize()
    {
        LONGLONG headerStart = 0, dataStart = 0, fileSize = 0;
        m_step([&](int* s) { m_fits.set_hdustruc(m_file.get(), s); });
        m_step([&](int* s) { m_fits.get_hduaddrll(m_file.get(), &headerStart, &dataStart, &fileSize, s); });
        return fileSize;
    }

    // The image, given top row first, stored bottom row first: FITS row 1 is the bottom of the
    // picture.
    void writeRows(const std::uint32_t* image, std::size_t width, std::size_t height)
    {
        std::vector<std::uint32_t> row(width);
        for (std::size_t fitsRow = 0; fitsRow < height && ok(); ++fitsRow) {
            const std::uint32_t* source = image + (height - 1 - fitsRow) * width;
            // CFITSIO takes the values through a non-const pointer; it gets a copy it may touch.
            std::copy(source, source + width, row.begin());
            m_step([&](int* s) {
                m_fits.write_img(m_file.get(), TUINT, static_cast<LONGLONG>(fitsRow * width + 1),
                                 static_cast<LONGLONG>(width), row.data(), s);
            });
        }
    }

    void close()
    {
        m_step([&](int* s) { m_fits.close_file(m_file.release(), s); });
    }

    bool ok() const { return m_step.status == 0; }

    // CFITSIO's reason for the first call that failed, with the operating system's when the call
    // was a file operation.
    std::string failure() const
    {
        char text[FLEN_STATUS] = {};
        m_fits.get_errstatus(m_step.status, text);
        m_fits.clear_errmsg();
        std::string why = std::string("CFITSIO could not write it: ") + text;
        if (isFileStatus(m_step.status) && m_step.osError != 0)
            why += " (" + osReason(m_step.osError) + ")";
        return why;
    }

private:
    const CfitsioLibrary& m_fits;
    StagedFile& m_staged;
    FitsSteps m_step;
    FitsHandle m_file;
};

// Why the written file is not the size CFITSIO said it would be, or empty when it is. CFITSIO's
// file driver loses a failed flush of its last buffered bytes (the C library drops them and the
// close then succeeds), so a disk that filled up after the room was set aside, or one that cannot
// set room aside, shows only as a short file.
std::string sizeOnDiskProblem(const StagedFile& staged, LONGLONG fileSize)
{
    int osError = 0;
    const std::int64_t onDisk = staged.size(&osError);
    if (onDisk < 0)
        return "cannot check the written file: " + osReason(osError);
    if (onDisk == fileSize)
        return {};
    std::string why = std::to_string(onDisk) + " of its " + std::to_string(fileSize) + " bytes reached the disk";
    if (onDisk < fileSize && staged.folderShortOf(static_cast<std::uint64_t>(fileSize - onDisk)))
        why += ": " + osReason(ENOSPC);
    return why;
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

    static const Cards noCards;
    const Cards& cards = options ? options->cards : noCards;
    if (const std::string why = refusal(fileName, image, m_params, cards); !why.empty())
        return fail(why);
    const auto width = static_cast<std::size_t>(m_params.width());
    const auto height = static_cast<std::size_t>(m_params.height());
    const std::uint32_t largest = *std::max_element(image, image + width * height);

    const kestro::kxfits::CfitsioLoad& loaded = kestro::kxfits::cfitsio();
    if (!loaded.library)
        return fail("FITS files cannot be written without CFITSIO: " + loaded.error);

    StagedFile staged(fileName);
    int osError = 0;
    if (!staged.create(&osError))
        return fail("cannot create a file in its folder: " + osReason(osError));
    // CFITSIO's disk-file call creates the file itself and refuses a name that exists. It creates it
    // with fopen, which leaves the permissions to the umask as the reservation did.
    staged.yield();

    ImageWrite write(*loaded.library, staged);
    write.writeHeader(imageType(m_params.bitpix(), largest), width, height, creatorText(options), cards);
    const LONGLONG fileSize = write.finishedSize();
    if (write.ok() && !staged.makeRoom(static_cast<std::uint64_t>(fileSize), &osError))
        return fail("no room for its " + std::to_string(fileSize) + " bytes: " + osReason(osError));
    write.writeRows(image, width, height);
    write.close();
    if (!write.ok())
        return fail(write.failure());
    if (const std::string why = sizeOnDiskProblem(staged, fileSize); !why.empty())
        return fail(why);
    if (!staged.commit(&osError))
        return fail("cannot put the written file in place: " + osReason(osError));
    return true;
}
