// What the status bar's frame pane says about the open capture: for an AVI file its size,
// codec and rate; for a SER capture its size, the format with the bit depth the data use and
// the depth they are stored in, the byte order of 16-bit samples, the colour id, and the UTC
// time of the frame when the file holds one.
#pragma once

#include "video_source.h"

#include <QString>

#include <cstdint>

// "640×480 · I420 · 30 fps" or "640×480 · SER · 12-bit in 16, little-endian · RGGB ·
// 2024-05-01T21:13:07.123Z"; empty with no capture open. nFrame is the chosen row.
QString CaptureDescription(const CVideoSource& source, std::int32_t nFrame);

// The depth part alone: "8-bit", "12-bit in 16", with the byte order of 16-bit samples and where
// it came from ("big-endian", "little-endian, assumed", "big-endian, as chosen").
QString DepthDescription(const CVideoSource& source);
