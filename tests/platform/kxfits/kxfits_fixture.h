// What the FITS writer's tests share: a scratch folder, the checkers' presence, and images.
#pragma once

#include "fits_check.h"
#include "kxfits.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kestro::test {

class KxFitsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(haveAstropy(&why)) << why;
        ASSERT_TRUE(haveTool("fitsverify")) << "fitsverify is missing; scripts/bootstrap installs it";
    }

    ScratchDir scratch;
};

// Saves a width x height image declared as `bitpix` bits, the way the export calls the library.
inline bool save(kxFitsFile& file, const std::string& path, const std::vector<std::uint32_t>& image, int width,
                 int height, int bitpix = 16, kxFitsFile::saveOptions* options = nullptr)
{
    file.params().set_params(bitpix, 2, width, height);
    return file.saveToFile(path, image.data(), options);
}

// Distinct values up to `largest`, different in every row and column.
inline std::vector<std::uint32_t> pattern(int width, int height, std::uint32_t largest)
{
    std::vector<std::uint32_t> image(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint32_t>((i * 40503u + 7u) % (std::uint64_t{largest} + 1));
    return image;
}

// Every name in a folder, hidden ones included.
inline std::set<std::string> listing(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// The picture read back upright: astropy's data[height - 1 - y, x] is the image's (x, y), y = 0 at the top.
inline void expectSameUpright(const FitsReadBack& back, const std::vector<std::uint32_t>& image, int width, int height)
{
    ASSERT_EQ(back.rows, height);
    ASSERT_EQ(back.cols, width);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(back.at(height - 1 - y, x), image[static_cast<std::size_t>(y * width + x)])
                << "at x " << x << ", y " << y << " from the top";
}

} // namespace kestro::test
