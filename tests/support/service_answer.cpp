#include "support/service_answer.h"

#include "service/qr_service.h"

#include <stdexcept>

namespace testsupport {

Answer ServiceAnswer(const std::string& request) {
    const std::size_t methodEnd = request.find(' ');
    const std::size_t targetEnd = request.find(' ', methodEnd + 1);
    const qrservice::Answer answer = qrservice::AnswerRequest(
        std::string_view(request).substr(0, methodEnd),
        std::string_view(request).substr(methodEnd + 1, targetEnd - methodEnd - 1), request.size());
    return HttpAnswer(static_cast<int>(answer.status), std::string(answer.body.begin(), answer.body.end()),
                      answer.contentType);
}

std::string ServiceQrPng(const std::string& text) {
    const auto png = qrservice::RenderQrPng({.text = text});
    if (const auto* refusal = std::get_if<qrservice::Refusal>(&png)) throw std::runtime_error(refusal->reason);
    const auto& bytes = std::get<std::vector<std::uint8_t>>(png);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace testsupport
