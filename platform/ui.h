// The services that the window's logic asks of its surroundings: message
// boxes, the open-file dialog, the file list, the caption and wait label, one
// pass of event processing and upper-casing. The Qt and the Win32 window
// implement them; the map-format library and imgflag never include this header.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "files.h"

namespace ks::platform {

// Buttons of a message box; the values are the toolkit's style numbers.
enum class Buttons : int {
    Ok = 0,
    OkCancel = 1,
};

// Icon of a message box; the values are the toolkit's style numbers.
enum class Icon : int {
    None = 0,
    Critical = 16,
    Warning = 48,
};

// What the user answered in a message box.
enum class Answer {
    Ok,
    Cancel,
};

// One modal message box. Within the prompt, CR LF starts a new line.
struct Message {
    std::string prompt;
    std::string title;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;

    // The combined style number of buttons and icon (0, 17 or 48 in this program).
    int style() const { return static_cast<int>(buttons) + static_cast<int>(icon); }
    bool operator==(const Message&) const = default;
};

// One filter of the open-file dialog: the text shown, exactly, and the pattern matched.
struct FileFilter {
    std::string description;
    std::string pattern;
};

// The user-facing services of the window. All calls happen on the UI thread.
class Ui {
public:
    virtual ~Ui() = default;

    // Shows a modal message box and returns the button the user chose.
    virtual Answer messageBox(const Message& message) = 0;

    // Shows the open-file dialog for an existing file, opened at `current`
    // (the path chosen last, or empty); returns the chosen absolute path, or
    // nothing when the user cancelled.
    virtual std::optional<std::string> chooseFile(const std::vector<FileFilter>& filters,
                                                  std::size_t preselectedFilter, const std::string& current) = 0;

    // Removes every entry (and its mark) from the file list.
    virtual void listClear() = 0;
    // Appends one unmarked entry to the file list.
    virtual void listAdd(const std::string& text) = 0;
    // Number of entries in the file list.
    virtual std::size_t listCount() const = 0;
    // Text of entry i (0-based, i < listCount()).
    virtual std::string listText(std::size_t i) const = 0;
    // Whether entry i is marked.
    virtual bool listMarked(std::size_t i) const = 0;
    // Marks or unmarks entry i.
    virtual void listSetMarked(std::size_t i, bool marked) = 0;
    // Marks or unmarks every entry at once.
    virtual void listSetAllMarked(bool marked) = 0;
    // Gives the list the keyboard focus, on its first entry, without marking it.
    virtual void listFocusFirst() = 0;

    // Sets the caption of the main window.
    virtual void setCaption(const std::string& caption) = 0;
    // Shows or hides the wait label.
    virtual void setWaitVisible(bool visible) = 0;
    // Processes the pending window events once and returns.
    virtual void processEvents() = 0;

    // Upper-cases a whole UTF-8 string for display.
    virtual std::string toUpper(const std::string& text) const = 0;
};

// Everything the program's logic reaches outside itself.
struct Platform {
    Ui& ui;
    FileLayer& files;
};

}  // namespace ks::platform
