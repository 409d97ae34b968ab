#include "capture_info.h"

#include "parallel_for.h"
#include "path_checks.h"
#include "video_source.h"

#include <cstdio>
#include <filesystem>

namespace kestro::cli {

namespace {

using kestro::video::CertaintyName;

std::int32_t countDataFrames(const CVideoSource& source)
{
    std::int32_t count = 0;
    for (std::int32_t i = source.FindDataFrame(0); i >= 0; i = source.FindDataFrame(i + 1))
        ++count;
    return count;
}

std::string orderOrNull(const kestro::bayer::Pattern* p) { return p ? jsonString(p->sensorName) : std::string("null"); }

} // namespace

CaptureInfo describeCapture(const std::string& path, std::optional<kestro::ser::ByteOrder> byteOrder)
{
    CaptureInfo info;
    info.file = path;
    // Opening a FIFO waits for a writer, and a device may never end: they are told, not read.
    if (info.error = captureProblem(path); !info.error.empty())
        return info;
    CVideoSource source;
    std::vector<kestro::ui::Message> held;
    source.HoldMessages(&held);
    source.SetByteOrder(byteOrder);
    if (!source.Open(path)) {
        info.error = held.empty() ? std::string("it could not be opened") : held.front().text;
        // One line per capture: the services' reason follows their headline on a line of its own.
        for (std::size_t at; (at = info.error.find('\n')) != std::string::npos;)
            info.error.replace(at, 1, ": ");
        return info;
    }
    for (const kestro::ui::Message& m : held)
        info.notes.push_back(m.text);
    info.format = source.GetCaptureFormatName();
    info.width = source.GetFrameWidth();
    info.height = source.GetFrameHeight();
    info.frames = source.GetFrameCount();
    info.dataFrames = countDataFrames(source);
    info.bitDepth = source.GetRealDepth();
    info.storedBits = source.GetStoredDepth();
    info.colourId = source.GetColorIdName();
    if (source.HasByteOrder())
        info.byteOrder = source.GetByteOrder() == kestro::ser::ByteOrder::Big ? "big" : "little";
    if (const std::optional<std::int32_t> code = source.GetHeaderPattern())
        info.stored = &kestro::bayer::patternFromCode(*code);
    info.detected = kestro::video::DetectMosaic(source);
    return info;
}

std::string infoText(const CaptureInfo& info)
{
    if (!info.error.empty())
        return info.file + ": cannot be read: " + info.error + "\n";
    std::string text = info.file + ": " + info.format + ", " + std::to_string(info.width) + "×" +
                       std::to_string(info.height) + ", " + std::to_string(info.frames) + " frames";
    if (info.dataFrames != info.frames)
        text += " (" + std::to_string(info.dataFrames) + " with data, " +
                std::to_string(info.frames - info.dataFrames) + " dropped)";
    text += ", " + std::to_string(info.bitDepth) + "-bit";
    if (info.storedBits != info.bitDepth)
        text += " in " + std::to_string(info.storedBits);
    if (!info.byteOrder.empty())
        text += ", " + info.byteOrder + "-endian";
    text += "\n";
    if (!info.colourId.empty())
        text += "  the file states: " + info.colourId + "\n";
    text += "  the data show:   " + kestro::video::DescribeGuess(info.detected) + "\n";
    for (const std::string& note : info.notes)
        text += "  note: " + note + "\n";
    return text;
}

std::string infoJson(const CaptureInfo& info)
{
    std::string j = "{\"file\":" + jsonString(info.file);
    if (!info.error.empty())
        return j + ",\"error\":" + jsonString(info.error) + "}";
    const kestro::video::MosaicGuess& d = info.detected;
    j += ",\"format\":" + jsonString(info.format) + ",\"width\":" + std::to_string(info.width) +
         ",\"height\":" + std::to_string(info.height) + ",\"frames\":" + std::to_string(info.frames) +
         ",\"data_frames\":" + std::to_string(info.dataFrames) + ",\"bit_depth\":" + std::to_string(info.bitDepth) +
         ",\"stored_bits\":" + std::to_string(info.storedBits) +
         ",\"colour_id\":" + (info.colourId.empty() ? std::string("null") : jsonString(info.colourId)) +
         ",\"byte_order\":" + (info.byteOrder.empty() ? std::string("null") : jsonString(info.byteOrder)) +
         ",\"stored_order\":" + orderOrNull(info.stored);
    j += ",\"detected\":{\"mosaic\":" + std::string(d.mosaic ? "true" : "false") +
         ",\"order\":" + orderOrNull(d.mosaic ? d.pattern : nullptr) +
         ",\"diagonal\":" + jsonString(CertaintyName(d.diagonal)) +
         ",\"red_blue\":" + jsonString(CertaintyName(d.redBlue)) + ",\"frames_read\":" + std::to_string(d.frames) +
         ",\"cells\":" + std::to_string(d.cells) + ",\"reason\":" + jsonString(d.reason) + "}";
    j += ",\"notes\":[";
    for (std::size_t i = 0; i < info.notes.size(); ++i)
        j += (i ? "," : "") + jsonString(info.notes[i]);
    return j + "]}";
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // A whole, shortest-form UTF-8 sequence passes as it is; anything else is one U+FFFD.
            const std::size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                                       : c >= 0xE0 && c <= 0xEF ? 3
                                       : c >= 0xF0 && c <= 0xF4 ? 4
                                                                : 0;
            bool whole = length != 0 && i + length <= n;
            for (std::size_t k = 1; whole && k < length; ++k)
                whole = (s[i + k] & 0xC0) == 0x80;
            if (whole && length == 3)
                whole = !(c == 0xE0 && s[i + 1] < 0xA0) && !(c == 0xED && s[i + 1] >= 0xA0);
            if (whole && length == 4)
                whole = !(c == 0xF0 && s[i + 1] < 0x90) && !(c == 0xF4 && s[i + 1] >= 0x90);
            if (whole) {
                out.append(text, i, length);
                i += length;
            } else {
                out += "\xEF\xBF\xBD";
                ++i;
            }
        }
    }
    return out + "\"";
}

int printInfo(const ConvertOptions& o, const std::vector<std::string>& captures)
{
    std::vector<CaptureInfo> infos(captures.size());
    kestro::parallel::forEach(captures.size(), std::max(1u, o.jobs),
                              [&](std::size_t i) { infos[i] = describeCapture(captures[i], o.byteOrder); });
    int status = 0;
    for (const CaptureInfo& info : infos) {
        const std::string line = o.json ? infoJson(info) + "\n" : infoText(info);
        std::fwrite(line.data(), 1, line.size(), stdout);
        if (!info.error.empty())
            status = 1;
    }
    std::fflush(stdout);
    return status;
}

} // namespace kestro::cli
