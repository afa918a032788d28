// The live length counter under the text page's edit box.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t kRecommendedTextBytes = 600;

// Length of a UTF-8 text as the counter reports it: bytes in GB18030, so a
// Chinese character counts 2, an ASCII character 1 and CR LF 2.
std::size_t CountCodePageBytes(std::string_view utf8);

// "文本长度：" N "/600".
std::string LengthCounterCaption(std::size_t bytes);

enum class CounterColour { Black, Red, Unchanged };

// Red above 600 bytes, black below; exactly 600 keeps the colour it had, so
// the counter does not flicker while the user edits around the limit.
CounterColour CounterColourFor(std::size_t bytes);
