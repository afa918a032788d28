#include "service/qr_service.h"

namespace qrservice {
namespace {

constexpr std::string_view kTextType = "text/plain; charset=utf-8";
constexpr std::string_view kPngType = "image/png";

Answer TextAnswer(const Refusal& refusal) {
    std::vector<std::uint8_t> body(refusal.reason.begin(), refusal.reason.end());
    body.push_back('\n');
    return Answer{refusal.status, kTextType, std::move(body)};
}

}  // namespace

Answer AnswerRequest(std::string_view method, std::string_view target, std::size_t headerBytes) {
    if (target.size() > kMaxTargetLength) {
        return TextAnswer({414, "request target longer than " + std::to_string(kMaxTargetLength) + " bytes"});
    }
    if (headerBytes > kMaxHeaderBytes) {
        return TextAnswer({431, "header fields longer than " + std::to_string(kMaxHeaderBytes) + " bytes"});
    }
    if (method != "GET" && method != "HEAD") {
        return TextAnswer({405, "method not allowed; use GET or HEAD"});
    }
    const std::size_t question = target.find('?');
    if (target.substr(0, question) != kImagePath) {
        return TextAnswer({404, "not found; the QR picture is at " + std::string(kImagePath)});
    }
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);

    std::variant<QrRequest, Refusal> parsed = ParseQrQuery(query);
    if (const Refusal* refusal = std::get_if<Refusal>(&parsed)) return TextAnswer(*refusal);
    std::variant<std::vector<std::uint8_t>, Refusal> rendered = RenderQrPng(std::get<QrRequest>(parsed));
    if (const Refusal* refusal = std::get_if<Refusal>(&rendered)) return TextAnswer(*refusal);
    return Answer{200, kPngType, std::move(std::get<std::vector<std::uint8_t>>(rendered))};
}

}  // namespace qrservice
