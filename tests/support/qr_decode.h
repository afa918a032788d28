// Reading QR pictures back with zbarimg, to check what a picture encodes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The payload bytes of the one QR symbol in the picture, exactly as encoded
// (UTF-8 or not, trailing line breaks included); nullopt when zbarimg finds
// no symbol or cannot read the picture. Runs
// `zbarimg --raw -q --nodbus -Sbinary`: without -Sbinary it re-encodes
// Chinese text.
std::optional<std::string> DecodeQrImage(const std::vector<std::uint8_t>& imageBytes);
std::optional<std::string> DecodeQrFile(const std::string& path);

}  // namespace testsupport
