// Every control of the main window: kind, container, place and first text.
#pragma once

#include <span>

enum class ControlKind {
    GroupBox,
    TabControl,
    TabPage,  // a page of the tab control: x, y, width, height unused
    PictureBox,
    Label,
    RedLabel,
    LineEdit,
    ReadOnlyLineEdit,
    MultiLineEdit,
    PushButton,
    RadioBox,
};

struct ControlRow {
    const char* name;  // the Qt objectName
    ControlKind kind;
    const char* container;  // objectName of the parent; "" for the window
    int x, y, width, height;
    const char* text;  // caption or initial content
};

// In creation order, which is also the stacking order (later on top) and the
// focus order.
std::span<const ControlRow> ControlTable();
