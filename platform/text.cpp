#include "text.h"

#include <algorithm>
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

// The code point of the valid UTF-8 sequence of length bytes at text[at].
std::uint32_t codePoint(std::string_view text, std::size_t at, std::size_t length)
{
    constexpr std::uint8_t kLeadBits[] = {0x7F, 0x7F, 0x1F, 0x0F, 0x07};  // by sequence length
    std::uint32_t value = static_cast<std::uint8_t>(text[at]) & kLeadBits[length];
    for (std::size_t i = 1; i < length; ++i) {
        value = (value << 6) | (static_cast<std::uint8_t>(text[at + i]) & 0x3Fu);
    }
    return value;
}

// Whether a character must never be shown raw: DEL and the C1 controls, the
// line and paragraph separators and the bidirectional embeddings, overrides
// and isolates. (The C0 controls have escapes of their own.)
bool invisible(std::uint32_t c)
{
    return (c >= 0x7F && c <= 0x9F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void appendHex(std::string& out, std::uint8_t byte)
{
    constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

}  // namespace

std::string escapeControls(std::string_view text, bool escapeBackslash,
                           const std::function<std::string(const std::string&)>& plain)
{
    std::string out;
    out.reserve(text.size());
    std::size_t kept = 0;  // start of the run of text kept as it is
    const auto endRun = [&](std::size_t at) {
        if (at > kept) {
            const std::string run(text.substr(kept, at - kept));
            out += plain ? plain(run) : run;
        }
    };
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        const std::size_t length = sequenceLength(text, at);
        const bool escaped = length == 0 || byte < 0x20 || (byte == '\\' && escapeBackslash) ||
                             invisible(codePoint(text, at, length));
        if (!escaped) {
            at += length;
            continue;
        }
        endRun(at);
        switch (byte) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default:
            for (std::size_t i = 0; i < std::max<std::size_t>(length, 1); ++i) {
                appendHex(out, static_cast<std::uint8_t>(text[at + i]));  // every byte shows
            }
        }
        at += std::max<std::size_t>(length, 1);
        kept = at;
    }
    endRun(text.size());
    return out;
}

std::string escapeJsonInvisibles(std::string_view json)
{
    constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(json.size());
    for (std::size_t at = 0; at < json.size();) {
        const std::size_t valid = sequenceLength(json, at);
        const std::size_t length = std::max<std::size_t>(valid, 1);
        const std::uint32_t c = valid == 0 ? 0 : codePoint(json, at, length);
        if (invisible(c)) {
            out += "\\u";
            for (const int shift : {12, 8, 4, 0}) {
                out += kDigits[(c >> shift) & 0x0F];
            }
        } else {
            out.append(json.substr(at, length));
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
