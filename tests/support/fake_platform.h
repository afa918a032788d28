// A desktop that records what the window asks of it: the window tests and
// the start-up benchmark hand it to the window instead of the real one.
#pragma once

#include "app/platform.h"

#include <string>
#include <vector>

struct ShownMessage {
    std::string text;
    int flags = 0;
    std::string title;
    bool operator==(const ShownMessage&) const = default;
};

class FakePlatform final : public Platform {
public:
    void messageBox(const std::string& text, int flags, const std::string& title) override {
        messages.push_back({text, flags, title});
    }
    std::string pickFolder(const std::string& title) override {
        pickerTitles.push_back(title);
        return folderToPick;
    }
    std::tm now() override { return clock; }

    std::vector<ShownMessage> messages;
    std::vector<std::string> pickerTitles;
    std::string folderToPick;
    std::tm clock{.tm_sec = 2, .tm_min = 5, .tm_hour = 21, .tm_mday = 30, .tm_mon = 11, .tm_year = 116};
};
