// CCfaConverter: turns a raw Bayer plane into the 24-bit picture of the RAW colour display mode,
// with the program's own bilinear algorithm (number 11, full frame size) or one of the de-mosaic
// library's algorithms (the frame without a 4-pixel margin).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The shape of the library's enumeration entry; the converter takes another one only in tests.
using EnumAlgorithmsFn = std::int32_t (*)(const char* const** names, std::int32_t* count);

class CCfaConverter {
public:
    // The algorithm number that selects the converter's own bilinear interpolation.
    static constexpr std::int32_t kOwnAlgorithm = 11;
    static constexpr const char* kOwnAlgorithmName = "11-DeBayerToRGB";

    CCfaConverter();
    explicit CCfaConverter(EnumAlgorithmsFn enumerate);
    virtual ~CCfaConverter();

    CCfaConverter(const CCfaConverter&) = delete;
    CCfaConverter& operator=(const CCfaConverter&) = delete;

    // The library's names in the library's order, copied once at construction.
    const std::vector<std::string>& GetAlgorithmNames() const { return m_algorithmNames; }

    void SetPattern(std::int32_t nPattern) { m_nPattern = nPattern; }
    void SetAlgorithm(std::int32_t nAlgorithm) { m_nAlgorithm = nAlgorithm; }
    std::int32_t GetPattern() const { return m_nPattern; }
    std::int32_t GetAlgorithm() const { return m_nAlgorithm; }

    // Converts a W x H plane (rows top first, no padding) into pPixels, which has room for
    // W * H * 3 bytes, as bottom-up blue-green-red rows. Reports the size of the picture written:
    // W x H for algorithm 11, (W - 8) x (H - 8) for the library's. Returns false when the library
    // refused the plane (too small, or an algorithm it does not know); it then wrote nothing.
    bool ConvertPlane(std::int32_t nWidth, std::int32_t nHeight, const std::uint8_t* pPlane, std::uint8_t* pPixels,
                      std::int32_t& nOutWidth, std::int32_t& nOutHeight);

    // Whether ConvertPlane would take a W x H plane with the algorithm chosen now, asked without
    // converting anything: the library's algorithms need more than 8 photosites across and down
    // and must be listed by the library.
    bool CanConvert(std::int32_t nWidth, std::int32_t nHeight) const;

private:
    void DeBayerToRgb(std::int32_t nWidth, std::int32_t nHeight, const std::uint8_t* pPlane, std::uint8_t* pPixels);

    std::int32_t m_nLayout = 40;
    std::vector<std::string> m_algorithmNames;
    std::int32_t m_nPattern = 1;
    std::int32_t m_nAlgorithm = kOwnAlgorithm;
};
