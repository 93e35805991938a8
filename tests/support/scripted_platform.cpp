#include "scripted_platform.h"

namespace ks::testing {

platform::Answer ScriptedUi::messageBox(const platform::Message& message)
{
    messages.push_back(message);
    if (onMessage) {
        onMessage();
    }
    if (message.buttons == platform::Buttons::Ok || answers.empty()) {
        return platform::Answer::Ok;
    }
    const platform::Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedUi::chooseFile(const std::vector<platform::FileFilter>& filters,
                                                  std::size_t preselectedFilter, const std::string&)
{
    ++dialogCalls;
    lastFilters = filters;
    lastPreselected = preselectedFilter;
    if (choices.empty()) {
        return std::nullopt;
    }
    auto choice = choices.front();
    choices.pop_front();
    return choice;
}

void ScriptedUi::listSetAllMarked(bool marked)
{
    for (auto& entry : list) {
        entry.marked = marked;
    }
}

std::string ScriptedUi::toUpper(const std::string& text) const
{
    // ASCII letters, and the two-byte UTF-8 forms of à..þ (but ÷) become upper case.
    std::string out = text;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'a' && c <= 'z') {
            out[i] = static_cast<char>(c - 'a' + 'A');
        } else if (c == 0xC3 && i + 1 < out.size()) {
            const auto d = static_cast<unsigned char>(out[i + 1]);
            if (d >= 0xA0 && d <= 0xBE && d != 0xB7) {
                out[i + 1] = static_cast<char>(d - 0x20);
            }
            ++i;
        }
    }
    return out;
}

std::vector<std::string> ScriptedUi::entries() const
{
    std::vector<std::string> texts;
    for (const auto& entry : list) {
        texts.push_back(entry.text);
    }
    return texts;
}

std::vector<std::string> ScriptedUi::prompts() const
{
    std::vector<std::string> texts;
    for (const auto& message : messages) {
        texts.push_back(message.prompt);
    }
    return texts;
}

}  // namespace ks::testing
