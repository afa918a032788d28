// Proving that a picture reads back as the payload it was asked for: the
// shown picture after each fetch, the saved file after each save.
#pragma once

#include "save/save.h"

#include <QImage>

#include <optional>
#include <string>
#include <string_view>

// Whether the QR symbol in `image` reads back as exactly `payload`; false for
// a null image and for one in which no symbol is found.
bool ShowsPayload(const QImage& image, std::string_view payload);
bool ShowsPayload(const save::Image& image, std::string_view payload);

// The smallest side n for which `shown`, scaled to n x n by ScaleNearest,
// still reads back as `payload`. The search starts where each module gets one
// pixel (from the width of the top-left finder pattern) and ends at the
// shown width; nothing when no size up to it reads.
std::optional<int> SmallestReadableSize(const save::Image& shown, std::string_view payload);

// What the completion box of a save adds after its text: "" when the saved
// file at `savedPath` reads back as `payload`, or when not even the picture
// the save started from (`picture`, the picture box's bytes) does; else a
// line break and the warning that the picture may not scan at that size,
// with the smallest size that does.
std::string UnreadableSaveNote(const std::string& savedPath, std::string_view payload, const save::Bytes& picture);
