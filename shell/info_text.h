// The info box: its title and its 21 lines, each shown followed by CR LF.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace ks::shell {

inline constexpr std::string_view kInfoTitle = "     Karten transparent schalten";
// What a message box without a title of its own shows in its title bar, in every window.
inline constexpr std::string_view kProgramTitle = "Kartenschalter";

inline constexpr std::array<std::string_view, 21> kInfoLines = {
    "IMG-Dateien lassen sich leicht transparent schalten. Bei Bedarf kann die Transparenzeigenschaft ",
    "auch wieder rückgängig gemacht werden (==> opak).",
    "Die Dateien dürfen nicht das Attribut 'Read only' haben.",
    "",
    "Menü 'Datei' >> 'Pfad wählen' und eine  beliebige Kachel markieren. In der Listbox    ",
    "erscheinen alle Dateinamen, dahinter die Kennungen <   > / < T > für Transparenz der IMG-Datei.",
    "",
    "Die Titelzeile zeigt den Pfad (Directory) und die Kachelzahl. ",
    "",
    "Fehlermeldungen, wenn keine IMG-Datei vorliegt oder kein Zugriff auf die Datei möglich ist.",
    "",
    "Auswahl durch Markieren: EIN/AUS mit Mausklick ---- oder navigieren mit Pfeiltasten ",
    "und EIN/AUS über Leertaste. ",
    "",
    "    >> Wenige Kacheln markieren: einzeln wählen ",
    " ",
    "    >> Alle Kacheln: Button 'A l l e  markieren' ",
    " ",
    "    >> Viele Kacheln: alle markieren, dann einzelne Markierungen löschen  ",
    "",
    "Für Wiederholungen, andere Directory o.ä. ==> Menüpunkt \u201ANeustart'",
};

// The list's tooltip: what each suffix behind a file name means, one line each.
inline constexpr std::array<std::string_view, 6> kSuffixTipLines = {
    "<T>  IMG-Datei ist transparent (IMG file is transparent)",
    "< >  IMG-Datei ist nicht transparent (IMG file is not transparent)",
    "<T n/m>  n von m Karten der Datei sind transparent (n of the file's m maps are transparent)",
    "<?>  Zustand unbekannt, die Meldung nennt den Fehler (state unknown, the message tells why)",
    "Kein Zugriff möglich  Datei nicht beschreibbar, z. B. schreibgeschützt (cannot be written, e.g. read-only)",
    "[NAME]  nur die Karten der Kartenfamilie NAME in der Datei (only the maps of the file's map family NAME)",
};

// The info box's text: every line followed by CR LF, the last one too.
inline std::string infoText()
{
    std::string text;
    for (const std::string_view line : kInfoLines) {
        text.append(line).append("\r\n");
    }
    return text;
}

}  // namespace ks::shell
