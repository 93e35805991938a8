// The main window as data, for every toolkit that draws it: each control
// with its name, text, place in twips and font, the menu, and the commands
// they start. No toolkit code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ks::shell {

// Positions are in twips: 1440 to the inch, 15 to a pixel at 96 dpi.
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kTwipsPerPixelAt96Dpi = 15;
// The window's fixed client area.
inline constexpr int kClientWidthTwips = 10470;
inline constexpr int kClientHeightTwips = 8310;

// What a control or menu item does when chosen.
enum class Command {
    None,
    ChoosePath,       // the listing pass with the open-file dialog
    Exit,             // ends the program at once
    Restart,          // empties the window
    Info,             // shows the info box
    MarkAll,          // marks every entry
    MarkNone,         // unmarks every entry
    MakeTransparent,  // the batch pass with index 1
    MakeOpaque,       // the batch pass with index 0
};

enum class Kind { List, Label, Button, Line };

enum class Face {
    Sans,   // MS Sans Serif, or the platform's narrow sans-serif
    Fixed,  // Courier New, or a metric-compatible fixed-pitch font
};

struct Font {
    Face face = Face::Sans;
    double points = 8.25;
    bool bold = false;
    bool underline = false;
};

// A rectangle (left, top, width, height), or for a line its two end points
// (x1, y1, x2, y2), in twips from the top left of the client area.
struct Twips {
    int a, b, c, d;
};

inline constexpr std::int32_t kDefaultColour = -1;

struct Control {
    const char* name;  // the control's name; the two batch buttons share theirs
    int index;         // element of a control array, else -1
    Kind kind;
    const char* text;  // UTF-8, shown exactly
    Twips place;
    Font font;
    int tabOrder;      // position in the keyboard focus order, -1 when never focused
    Command command;
    bool centred = false;
    bool hiddenAtStart = false;
    std::int32_t foreground = kDefaultColour;  // 0xRRGGBB
    std::int32_t background = kDefaultColour;
    int lineWidth = 0;  // pixels, for lines
    int lines = 0;      // buttons: the most lines their text may break into (a smaller font where it needs more)
};

inline constexpr Font kLegend{Face::Sans, 8.25, true};
inline constexpr Font kInstructions{Face::Sans, 9.75};
inline constexpr Font kCaptions{Face::Sans, 12, true};
inline constexpr Font kBatch{Face::Sans, 9.75, true};

inline constexpr Control kControls[] = {
    {"lst", -1, Kind::List, "", {300, 30, 5400, 8160}, {Face::Fixed, 9.75}, 0, Command::None},
    {"Label2", -1, Kind::Label, "<   >  IMG-Datei ist nicht transparent", {6360, 60, 3135, 195}, kLegend, -1,
     Command::None},
    {"Label6", -1, Kind::Label, "         (IMG-File is not transparent)", {6360, 360, 2925, 195}, kLegend, -1,
     Command::None},
    {"Label3", -1, Kind::Label, "< T >  IMG-Datei  i s t  transparent", {6360, 720, 2955, 195}, kLegend, -1,
     Command::None},
    {"Label7", -1, Kind::Label, "         (IMG-File is transparent)", {6360, 960, 2595, 195}, kLegend, -1,
     Command::None},
    {"cmd_Mark", -1, Kind::Button, "Alle markieren  (Select all)", {6180, 1560, 1740, 930}, kLegend, 2,
     Command::MarkAll, false, false, kDefaultColour, kDefaultColour, 0, 2},
    {"cmd_nomark", -1, Kind::Button, "Keine markieren  (deselect all)", {8400, 1560, 1740, 930}, kLegend, 4,
     Command::MarkNone, false, false, kDefaultColour, kDefaultColour, 0, 2},
    {"Label4", -1, Kind::Label,
     "Auswahl /Markieren: durch Mausklick oder navigieren mit Pfeiltasten und EIN/AUS über Leertaste",
     {6360, 2760, 3540, 840}, kInstructions, -1, Command::None},
    {"Label5", -1, Kind::Label,
     "(select/deselect with a mouse click  or navigate with the arrows and select with the space key)",
     {6360, 3600, 3525, 780}, kInstructions, -1, Command::None},
    {"lbl_Warten", -1, Kind::Label, "  bitte warten ...  (please wait)", {6690, 4440, 2700, 810},
     {Face::Sans, 13.5, true, true}, -1, Command::None, true, true, 0xFF0000, 0xC0FFFF},
    {"Label1", -1, Kind::Label, "Alle markierten Dateien", {6720, 5400, 2835, 300}, kCaptions, -1, Command::None},
    {"Label8", -1, Kind::Label, "(for all selected files)", {6840, 5760, 2535, 300}, kCaptions, -1, Command::None},
    {"Line1", -1, Kind::Line, "", {7975, 6090, 6990, 7440}, {}, -1, Command::None, false, false, kDefaultColour,
     kDefaultColour, 2},
    {"Line2", -1, Kind::Line, "", {8385, 6090, 9362, 7440}, {}, -1, Command::None, false, false, kDefaultColour,
     kDefaultColour, 2},
    {"cmd_Trnsp", 1, Kind::Button, "Transparent schalten  (make transparent)", {6120, 6840, 1755, 1395}, kBatch,
     1, Command::MakeTransparent, false, false, kDefaultColour, kDefaultColour, 0, 3},
    {"cmd_Trnsp", 0, Kind::Button, "N i c h t transparent schalten  (make not transparent)",
     {8430, 6840, 1743, 1395}, kBatch, 3, Command::MakeOpaque, false, false, kDefaultColour, kDefaultColour, 0, 4},
};

// The menu bar: top-level items, and the items of the first one's submenu.
struct MenuItem {
    const char* text;  // an ampersand marks the access key; "-" is a separator
    const char* name;
    bool inFileMenu;   // in "&Datei (file)", else on the bar
    Command command;
    bool opensFileMenu = false;
};

inline constexpr MenuItem kMenu[] = {
    {"&Datei (file)", "keiner", false, Command::None, true},
    {"&Pfad wählen (select path)", "mn_Datei", true, Command::ChoosePath},
    {"-", "kein", true, Command::None},
    {"-", "keine", true, Command::None},
    {"&Ende (exit)", "mn_End", true, Command::Exit},
    {"       ", "dummy", false, Command::None},
    {"&Neustart (restart)", "mn_Neustart", false, Command::Restart},
    {"&Info", "mn_Help", false, Command::Info},
};

// Pixels for a length in twips at dpi dots per inch, rounded to nearest.
constexpr int pixels(int twips, int dpi = kTwipsPerInch / kTwipsPerPixelAt96Dpi)
{
    const long long scaled = static_cast<long long>(twips) * dpi;
    return static_cast<int>((scaled + (scaled >= 0 ? kTwipsPerInch / 2 : -kTwipsPerInch / 2)) / kTwipsPerInch);
}

// Where an entry's status suffix starts: its last "  <...>", or " Kein Zugriff
// möglich" at its end; the entry's length when it has neither.
constexpr std::size_t suffixStart(std::string_view entry)
{
    constexpr std::string_view kNoAccess = " Kein Zugriff möglich";
    if (entry.ends_with(kNoAccess)) {
        return entry.size() - kNoAccess.size();
    }
    const std::size_t open = entry.ends_with('>') ? entry.rfind("  <") : std::string_view::npos;
    return open == std::string_view::npos ? entry.size() : open;
}

// The entry as it fits in room: whole when width(entry) <= room, else its name
// shortened in the middle to "head…tail" so that its suffix always shows whole
// (only the suffix, when not even "…" and the suffix fit). Cuts UTF-8 only
// between characters.
template <typename Width>
std::string fitEntry(std::string_view entry, double room, const Width& width)
{
    if (width(entry) <= room) {
        return std::string(entry);
    }
    constexpr std::string_view kEllipsis = "\u2026";
    const std::string_view suffix = entry.substr(suffixStart(entry));
    const std::string_view name = entry.substr(0, entry.size() - suffix.size());
    std::vector<std::size_t> starts;  // of the name's characters
    for (std::size_t i = 0; i < name.size(); ++i) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80) {  // not a UTF-8 continuation byte
            starts.push_back(i);
        }
    }
    const auto shortened = [&](std::size_t kept) {  // the first and last of kept characters, "…" between
        const std::size_t headEnd = (kept + 1) / 2 < starts.size() ? starts[(kept + 1) / 2] : name.size();
        const std::size_t tailFrom = starts.size() - kept / 2;
        const std::size_t tailStart = tailFrom < starts.size() ? starts[tailFrom] : name.size();
        return std::string(name.substr(0, headEnd)).append(kEllipsis).append(name.substr(tailStart)).append(suffix);
    };
    std::size_t low = 0, high = starts.size();  // shortened(low) is the best known to fit, high too many
    while (high - low > 1) {
        const std::size_t mid = low + (high - low) / 2;
        (width(shortened(mid)) <= room ? low : high) = mid;
    }
    return low == 0 && width(shortened(0)) > room ? std::string(suffix) : shortened(low);
}

// The lines of a label's text, broken only at spaces (so that "EIN/AUS"
// stays whole): as many words on each line as fits(line) allows, the spaces
// at a break dropped. A word wider than the label gets a line of its own.
template <typename Fits>
std::vector<std::string_view> breakAtSpaces(std::string_view text, const Fits& fits)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;  // of the line being filled
    while (start < text.size()) {
        std::size_t end = text.find(' ', text.find_first_not_of(' ', start));  // after its first word
        end = end == std::string_view::npos ? text.size() : end;
        while (end < text.size()) {
            const std::size_t word = text.find_first_not_of(' ', end);
            if (word == std::string_view::npos) {
                break;
            }
            const std::size_t next = std::min(text.find(' ', word), text.size());
            if (!fits(text.substr(start, next - start))) {
                break;
            }
            end = next;
        }
        lines.push_back(text.substr(start, end - start));
        start = std::min(text.find_first_not_of(' ', end), text.size());
    }
    return lines;
}

}  // namespace ks::shell
