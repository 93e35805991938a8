// Texts made safe to show: names whose bytes must neither reach a terminal
// raw nor pass for other text.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ks::platform {

// Whether shown names escape a backslash: everywhere but on Windows, where it
// only separates folders, for no name can hold one.
#ifdef _WIN32
inline constexpr bool kEscapeBackslash = false;
#else
inline constexpr bool kEscapeBackslash = true;
#endif

// text with every character that could hide or fake other text written as an
// escape: the controls (C0, DEL, C1) as \n, \r, \t or \xHH, the bidirectional
// controls (U+202A-U+202E, U+2066-U+2069) and the line and paragraph
// separators (U+2028, U+2029) as \xHH per byte, as every byte that is not
// part of valid UTF-8. With escapeBackslash a backslash becomes \\, so that
// the result reads back unambiguously. plain, when given, rewrites each run
// of text that is kept (the window upper-cases those, never the escapes).
std::string escapeControls(std::string_view text, bool escapeBackslash,
                           const std::function<std::string(const std::string&)>& plain = {});

// JSON text in valid UTF-8 with DEL, the C1 controls, the bidirectional
// controls and the two separators written as \uXXXX, which a JSON reader
// reads back as the same characters.
std::string escapeJsonInvisibles(std::string_view json);

// Whether text is valid UTF-8.
bool isValidUtf8(std::string_view text);

}  // namespace ks::platform
