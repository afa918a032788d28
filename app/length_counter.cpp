#include "app/length_counter.h"

#include "qr/qr.h"

std::size_t CountCodePageBytes(std::string_view utf8) {
    return qr::WideToMultiByte(qr::AnsiToWide(utf8, qr::kSystemCodePage), qr::kCodePageGb18030).size();
}

std::string LengthCounterCaption(std::size_t bytes) {
    return "文本长度：" + std::to_string(bytes) + "/" + std::to_string(kRecommendedTextBytes);
}

CounterColour CounterColourFor(std::size_t bytes) {
    if (bytes > kRecommendedTextBytes) return CounterColour::Red;
    if (bytes < kRecommendedTextBytes) return CounterColour::Black;
    return CounterColour::Unchanged;
}
