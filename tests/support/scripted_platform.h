// A platform for tests: records every message box and answers from a script,
// keeps the list, caption and wait label in memory, and uses the real file
// layer so that the bytes on disk can be checked.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_files.h"

namespace ks::platform {

// Shows a message box in test failures with all four of its parts.
inline void PrintTo(const Message& m, std::ostream* os)
{
    *os << "{\"" << m.prompt << "\" / \"" << m.title << "\" / style " << m.style() << "}";
}

}  // namespace ks::platform

namespace ks::testing {

class ScriptedUi final : public platform::Ui {
public:
    struct Entry {
        std::string text;
        bool marked = false;
    };

    std::vector<platform::Message> messages;       // every box shown, in order
    std::deque<platform::Answer> answers;          // answers to OK/Cancel boxes; OK when empty
    std::deque<std::optional<std::string>> choices;  // dialog results; Cancel when empty
    std::vector<Entry> list;
    std::string caption;
    bool waitVisible = false;
    int processEventsCalls = 0;
    bool focusedFirst = false;
    int dialogCalls = 0;
    std::vector<platform::FileFilter> lastFilters;
    std::size_t lastPreselected = 0;
    std::function<void()> onMessage;  // runs inside every message box, e.g. to change the disk

    platform::Answer messageBox(const platform::Message& message) override;
    std::optional<std::string> chooseFile(const std::vector<platform::FileFilter>& filters,
                                          std::size_t preselectedFilter, const std::string& current) override;
    void listClear() override { list.clear(); }
    void listAdd(const std::string& text) override { list.push_back({text, false}); }
    std::size_t listCount() const override { return list.size(); }
    std::string listText(std::size_t i) const override { return list.at(i).text; }
    bool listMarked(std::size_t i) const override { return list.at(i).marked; }
    void listSetMarked(std::size_t i, bool marked) override { list.at(i).marked = marked; }
    void listSetAllMarked(bool marked) override;
    void listFocusFirst() override { focusedFirst = true; }
    void setCaption(const std::string& text) override { caption = text; }
    void setWaitVisible(bool visible) override { waitVisible = visible; }
    void processEvents() override { ++processEventsCalls; }
    std::string toUpper(const std::string& text) const override;

    // The texts of all entries, in order.
    std::vector<std::string> entries() const;
    // The prompts of all message boxes shown, in order.
    std::vector<std::string> prompts() const;
};

// The scripted UI together with the real file layer.
struct ScriptedPlatform {
    ScriptedUi ui;
    platform::PosixFileLayer files;
    platform::Platform platform{ui, files};
};

}  // namespace ks::testing
