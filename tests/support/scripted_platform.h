// A platform for tests: records every message box and answers from a script,
// keeps the list, caption and wait label in memory, and wraps the system's
// file layer so that every open, read, write, flush and close lands in one
// log with the boxes, and a test can step in right before a write or a flush.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <ostream>
#include <string>
#include <vector>

#include "platform/ui.h"
#ifndef _WIN32
#include "platform/posix_files.h"
#endif

namespace ks::platform {

// Shows a message box in test failures with all four of its parts.
inline void PrintTo(const Message& m, std::ostream* os)
{
    *os << "{\"" << m.prompt << "\" / \"" << m.title << "\" / style " << m.style() << "}";
}

}  // namespace ks::platform

namespace ks::testing {

// What happened, in order: "open NAME", "read NAME", "write NAME", "close NAME",
// "flush NAME NAME...", "box FIRST LINE OF THE PROMPT", "dialog at PATH",
// "wait shown", "events"...; NAME is the file's name without its folder.
using Log = std::vector<std::string>;

class ScriptedUi final : public platform::Ui {
public:
    struct Entry {
        std::string text;
        bool marked = false;
    };

    explicit ScriptedUi(Log& log) : log_(log) {}

    std::vector<platform::Message> messages;         // every box shown, in order
    std::deque<platform::Answer> answers;            // answers to OK/Cancel boxes; OK when empty
    std::deque<std::optional<std::string>> choices;  // dialog results; Cancel when empty
    std::vector<Entry> list;
    std::string caption;
    bool waitVisible = false;

    platform::Answer messageBox(const platform::Message& message) override;
    std::optional<std::string> chooseFile(const std::vector<platform::FileFilter>& filters,
                                          std::size_t preselectedFilter, const std::string& current) override;
    void listClear() override { list.clear(); }
    void listAdd(const std::string& text) override { list.push_back({text, false}); }
    std::size_t listCount() const override { return list.size(); }
    std::string listText(std::size_t i) const override { return list.at(i).text; }
    bool listMarked(std::size_t i) const override { return list.at(i).marked; }
    void listSetMarked(std::size_t i, bool marked) override { list.at(i).marked = marked; }
    void listSetAllMarked(bool marked) override { std::ranges::for_each(list, [&](Entry& e) { e.marked = marked; }); }
    void listFocusFirst() override { log_.push_back("focus on the first entry"); }
    void setCaption(const std::string& text) override { caption = text; }
    void setWaitVisible(bool visible) override { log_.push_back(visible ? "wait shown" : "wait hidden"); waitVisible = visible; }
    void processEvents() override { log_.push_back("events"); }
    // ASCII letters, and the two-byte UTF-8 forms of à..þ (but ÷), become upper case.
    std::string toUpper(const std::string& text) const override;

    // The texts of all entries, in order.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> texts(list.size());
        std::ranges::transform(list, texts.begin(), &Entry::text);
        return texts;
    }

private:
    Log& log_;
};

// The system's file layer, logged, with seams.
class ScriptedFileLayer final : public platform::FileLayer {
public:
    explicit ScriptedFileLayer(Log& log) : log_(log), native_(platform::nativeFileLayer()) {}

    // Runs right before each one-byte write, with the file's path; may change
    // the file under the writer, or throw a RunTimeError as a failed write.
    std::function<void(const std::string& path)> beforeWrite;
    // Makes the writes numbered in nth (from 1, counted from now on) fail as on a full disk.
    void failWrites(std::set<int> nth)
    {
        beforeWrite = [nth, n = 0](const std::string&) mutable {
            nth.contains(++n) ? throw platform::RunTimeError(platform::Failure::DiskFull) : void();
        };
    }
    // The paths whose flush fails, and how.
    std::map<std::string, platform::Failure> flushFailures;
    // Files it lets be open at once; one more, or a folder listed then, fails as the system does without a
    // free descriptor.
    std::size_t openLimit = SIZE_MAX;
#ifndef _WIN32
    // The system's file layer's own seams: a swap after the look, a truncation right before
    // the write, the file system's type, a failed fdatasync or close.
    platform::PosixSeams& seams() { return static_cast<platform::PosixFileLayer&>(*native_).seams; }
#endif

    std::unique_ptr<platform::MapFile> open(const std::string& path, platform::OpenMode mode) override;
    platform::FolderContents list(const std::string& folder) override;
    std::vector<std::optional<platform::RunTimeError>> flush(std::span<platform::MapFile* const> files) override;
    bool isFolder(const std::string& path) override { return native_->isFolder(path); }
    std::optional<platform::FileId> folderId(const std::string& path) override { return native_->folderId(path); }

private:
    Log& log_;
    std::unique_ptr<platform::FileLayer> native_;
    std::size_t open_ = 0;  // files open now
};

// The scripted UI and file layer sharing one log.
struct ScriptedPlatform {
    Log log;
    ScriptedUi ui{log};
    ScriptedFileLayer files{log};
    platform::Platform platform{ui, files};

    // How many log lines start with prefix.
    long count(const std::string& prefix) const;
};

}  // namespace ks::testing
