// What the window's handlers need from the desktop besides the widgets:
// tests replace it with a recording fake.
#pragma once

#include "msgbox/msgbox.h"

#include <ctime>
#include <string>

class Platform {
public:
    virtual ~Platform() = default;

    // A modal box with one OK button, owned by no window; returns when closed.
    // flags: msgbox::kStopIcon or msgbox::kInformationIcon.
    virtual void messageBox(const std::string& text, int flags, const std::string& title) = 0;

    // The folder the user picked, as a local path without trailing "/" (the
    // root stays "/"), in the bytes the file system names it with, which need
    // not be UTF-8; "" when cancelled or when the choice is no local folder.
    virtual std::string pickFolder(const std::string& title) = 0;

    // The local date and time, to the second.
    virtual std::tm now() = 0;
};
