#include "scripted_platform.h"

#include <algorithm>

namespace ks::testing {

namespace {

std::string nameOf(const std::string& path)
{
    return path.substr(path.find_last_of(platform::kPathSeparators) + 1);
}

class ScriptedFile final : public platform::MapFile {
public:
    ScriptedFile(std::unique_ptr<platform::MapFile> inner, std::string path, Log& log,
                 const std::function<void(const std::string&)>& beforeWrite, std::size_t& open)
        : inner(std::move(inner)), path(std::move(path)), log_(log), beforeWrite_(beforeWrite), open_(++open)
    {
        log_.push_back("open " + nameOf(this->path));
    }
    ~ScriptedFile() override { log_.push_back("close " + nameOf(path)), --open_; }

    std::uint64_t size() const override { return inner->size(); }
    std::optional<platform::FileId> id() const override { return inner->id(); }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        log_.push_back("read " + nameOf(path));
        return inner->readAt(offset, out);
    }
    void writeByteAt(std::uint64_t offset, std::uint8_t value) override
    {
        log_.push_back("write " + nameOf(path));
        beforeWrite_ ? beforeWrite_(path) : void();
        inner->writeByteAt(offset, value);
    }
    void finishWrites() override { inner->finishWrites(); }

    std::unique_ptr<platform::MapFile> inner;
    const std::string path;

private:
    Log& log_;
    const std::function<void(const std::string&)>& beforeWrite_;
    std::size_t& open_;
};

// Takes the first of a script's answers off it.
template <typename T>
T takeFirst(std::deque<T>& script)
{
    T first = std::move(script.front());
    script.pop_front();
    return first;
}

}  // namespace

platform::Answer ScriptedUi::messageBox(const platform::Message& message)
{
    messages.push_back(message);
    log_.push_back("box " + message.prompt.substr(0, message.prompt.find('\r')));
    return message.buttons == platform::Buttons::Ok || answers.empty() ? platform::Answer::Ok : takeFirst(answers);
}

std::optional<std::string> ScriptedUi::chooseFile(const std::vector<platform::FileFilter>&, std::size_t,
                                                  const std::string& current)
{
    log_.push_back("dialog at " + current);
    return choices.empty() ? std::nullopt : takeFirst(choices);
}

std::string ScriptedUi::toUpper(const std::string& text) const
{
    std::string out = text;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        const auto next = i + 1 < out.size() ? static_cast<unsigned char>(out[i + 1]) : 0;
        if (c >= 'a' && c <= 'z') {
            out[i] = static_cast<char>(c - 'a' + 'A');
        } else if (c == 0xC3 && next >= 0xA0 && next <= 0xBE && next != 0xB7) {
            out[++i] = static_cast<char>(next - 0x20);
        }
    }
    return out;
}

std::unique_ptr<platform::MapFile> ScriptedFileLayer::open(const std::string& path, platform::OpenMode mode)
{
    if (open_ >= openLimit) {
        throw platform::RunTimeError(platform::Failure::TooManyFiles);
    }
    return std::make_unique<ScriptedFile>(native_->open(path, mode), path, log_, beforeWrite, open_);
}

platform::FolderContents ScriptedFileLayer::list(const std::string& folder)
{
    if (open_ >= openLimit) {
        throw platform::RunTimeError(platform::Failure::TooManyFiles);
    }
    return native_->list(folder);
}

std::vector<std::optional<platform::RunTimeError>> ScriptedFileLayer::flush(std::span<platform::MapFile* const> files)
{
    std::string line = "flush";
    std::vector<platform::MapFile*> inner;
    for (platform::MapFile* file : files) {
        line.append(" ").append(nameOf(static_cast<ScriptedFile*>(file)->path));
        inner.push_back(static_cast<ScriptedFile*>(file)->inner.get());
    }
    log_.push_back(line);
    auto results = native_->flush(inner);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (const auto it = flushFailures.find(static_cast<ScriptedFile*>(files[i])->path); it != flushFailures.end()) {
            results[i] = platform::RunTimeError(it->second);
        }
    }
    return results;
}

long ScriptedPlatform::count(const std::string& prefix) const
{
    return std::count_if(log.begin(), log.end(), [&](const std::string& line) { return line.starts_with(prefix); });
}

}  // namespace ks::testing
