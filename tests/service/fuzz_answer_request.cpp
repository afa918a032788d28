// libFuzzer target: the input is a request target, answered as a GET. Besides
// the sanitizers' findings it checks the shape of every answer.
#include "service/qr_service.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view target(reinterpret_cast<const char*>(data), size);
    const qrservice::Answer answer = qrservice::AnswerRequest("GET", target, 0);

    static constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const std::vector<std::uint8_t>& body = answer.body;
    if (answer.status == 200) {
        if (body.size() < sizeof kPngSignature || std::memcmp(body.data(), kPngSignature, sizeof kPngSignature) != 0) {
            std::abort();
        }
    } else {
        // A refusal is one line of text.
        const bool oneLine =
            !body.empty() && body.back() == '\n' && std::memchr(body.data(), '\n', body.size()) == &body.back();
        if (answer.status < 400 || answer.status > 599 || !oneLine) std::abort();
    }
    return 0;
}
