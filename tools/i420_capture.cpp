#include "i420_capture.h"

#include "avi_handles.h"

#include <algorithm>
#include <vector>

namespace kestro::tools {

HRESULT WriteI420Capture(const std::string& path, int width, int height, int frames, DWORD rate,
                         const std::function<void(int, std::uint8_t*)>& fill, const std::set<int>& empty,
                         const std::map<int, std::size_t>& cut)
{
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 / 2;
    const kestro::avi::Session session;
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    HRESULT hr = AVIFileOpenA(file.out(), path.c_str(), OF_CREATE | OF_WRITE, nullptr);
    if (hr == AVIERR_OK) {
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.fccHandler = mmioFOURCC('I', '4', '2', '0');
        info.dwScale = 1;
        info.dwRate = rate;
        info.dwSuggestedBufferSize = static_cast<DWORD>(bytes);
        info.rcFrame = {0, 0, width, height};
        hr = AVIFileCreateStreamA(file.get(), stream.out(), &info);
    }
    if (hr == AVIERR_OK) {
        BITMAPINFOHEADER bih{};
        bih.biSize = sizeof bih;
        bih.biWidth = width;
        bih.biHeight = height;
        bih.biPlanes = 1;
        bih.biBitCount = 12;
        bih.biCompression = mmioFOURCC('I', '4', '2', '0');
        bih.biSizeImage = static_cast<DWORD>(bytes);
        hr = AVIStreamSetFormat(stream.get(), 0, &bih, sizeof bih);
    }
    std::vector<std::uint8_t> sample(bytes, 128);
    for (int i = 0; i < frames && hr == AVIERR_OK; ++i) {
        if (empty.count(i)) {
            hr = AVIStreamWrite(stream.get(), i, 1, nullptr, 0, 0, nullptr, nullptr);
            continue;
        }
        fill(i, sample.data());
        const auto shortened = cut.find(i);
        const std::size_t stored = shortened == cut.end() ? bytes : std::min(shortened->second, bytes);
        hr = AVIStreamWrite(stream.get(), i, 1, sample.data(), static_cast<LONG>(stored), AVIIF_KEYFRAME, nullptr,
                            nullptr);
    }
    if (hr == AVIERR_OK && file)
        hr = AVIFileCommit(file.get());
    return hr;
}

} // namespace kestro::tools
