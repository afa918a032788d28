// The bundled QR image service's answers without its process: real QR
// pictures for the fixture server to send.
#pragma once

#include "support/fixture_server.h"

#include <string>

namespace testsupport {

// What the service answers to a raw HTTP request (request line and headers):
// its status, media type and body, ending with a normal close.
Answer ServiceAnswer(const std::string& request);

// The PNG the service draws for `text` at its default size and level.
std::string ServiceQrPng(const std::string& text);

}  // namespace testsupport
