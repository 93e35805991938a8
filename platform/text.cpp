#include "text.h"

#include <cstdint>

namespace ks::platform {

namespace {

// Length of the valid UTF-8 sequence starting at text[at], or 0.
std::size_t sequenceLength(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<std::uint8_t>(text[at]);
    std::size_t length = 0;
    std::uint32_t value = 0;
    std::uint32_t smallest = 0;  // the least value that needs this many bytes
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1Fu, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0Fu, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07u, smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (next & 0x3Fu);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return value < smallest || value > 0x10FFFF || surrogate ? 0 : length;
}

void appendHex(std::string& out, std::uint8_t byte)
{
    constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

}  // namespace

std::string escapeControls(std::string_view text, bool escapeBackslash)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        const std::size_t length = sequenceLength(text, at);
        const bool c1Control = length == 2 && byte == 0xC2 && static_cast<std::uint8_t>(text[at + 1]) < 0xA0;
        if (length == 0 || c1Control) {
            appendHex(out, byte);  // one byte at a time, so every byte shows
            ++at;
            continue;
        }
        if (length == 1) {
            switch (byte) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\\': out += escapeBackslash ? "\\\\" : "\\"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    appendHex(out, byte);
                } else {
                    out += static_cast<char>(byte);
                }
            }
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

bool isValidUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

}  // namespace ks::platform
