// Texts made safe to show: names whose bytes must neither reach a terminal
// raw nor pass for other text.
#pragma once

#include <string>
#include <string_view>

namespace ks::platform {

// text with every control character and every byte that is not part of
// valid UTF-8 written as an escape: \n, \r, \t, else \xHH. With
// escapeBackslash a backslash becomes \\, so that the result reads back
// unambiguously.
std::string escapeControls(std::string_view text, bool escapeBackslash);

// Whether text is valid UTF-8.
bool isValidUtf8(std::string_view text);

}  // namespace ks::platform
