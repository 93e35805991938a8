// Texts of the run-time error numbers, in the program's German-with-gloss style.
#pragma once

#include <string>

#include "platform.h"

namespace ks::platform {

// The description text of run-time error number; a generic text for unknown ones.
inline std::string errorText(int number)
{
    switch (number) {
    case err::kOverflow: return "Überlauf (overflow)";
    case err::kFileNotFound: return "Datei nicht gefunden (file not found)";
    case err::kDeviceIo: return "Fehler beim Lesen/Schreiben des Datenträgers (device I/O error)";
    case err::kBadRecordNumber: return "Falsche Datensatznummer (bad record number)";
    case err::kTooManyFiles: return "Zu viele Dateien geöffnet (too many files)";
    case err::kPathFileAccess: return "Fehler beim Zugriff auf Pfad/Datei (path/file access error)";
    case err::kPathNotFound: return "Pfad nicht gefunden (path not found)";
    default: return "Anwendungs- oder objektdefinierter Fehler (application-defined error)";
    }
}

// Raises run-time error number with its text.
[[noreturn]] inline void raise(int number)
{
    throw RunTimeError(number, errorText(number));
}

}  // namespace ks::platform
