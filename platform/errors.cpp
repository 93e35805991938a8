#include "errors.h"

#include <utility>

namespace ks::platform {

namespace {

struct Description {
    int number;
    const char* german;
    const char* english;
};

Description describe(Failure failure)
{
    switch (failure) {
    case Failure::Overflow: return {err::kOverflow, "Überlauf", "overflow"};
    case Failure::NotFound: return {err::kFileNotFound, "Datei nicht gefunden", "file not found"};
    case Failure::PathNotFound: return {err::kPathNotFound, "Pfad nicht gefunden", "path not found"};
    case Failure::AccessDenied:
        return {err::kPathFileAccess, "Fehler beim Zugriff auf Pfad/Datei", "path/file access error"};
    case Failure::ReadOnly: return {err::kPathFileAccess, "Datei ist schreibgeschützt", "read-only"};
    case Failure::NotRegular: return {err::kPathFileAccess, "Keine gewöhnliche Datei", "not a regular file"};
    case Failure::Busy:
        return {err::kPathFileAccess, "Datei wird von einem anderen Programm benutzt", "in use by another program"};
    case Failure::DiskFull: return {err::kDiskFull, "Datenträger voll", "disk full"};
    case Failure::QuotaExceeded: return {err::kDiskFull, "Datenträger voll", "disk quota exceeded"};
    case Failure::NameTooLong: return {err::kBadFileName, "Dateiname zu lang", "file name too long"};
    case Failure::BadName: return {err::kBadFileName, "Ungültiger Dateiname", "bad file name"};
    case Failure::LinkLoop: return {err::kBadFileName, "Zu viele Verknüpfungsebenen", "too many levels of links"};
    case Failure::TooManyFiles: return {err::kTooManyFiles, "Zu viele Dateien geöffnet", "too many open files"};
    case Failure::Changed:
        return {err::kDeviceIo, "Datei wurde inzwischen gekürzt oder ersetzt",
                "the file was truncated or replaced meanwhile"};
    case Failure::DeviceIo:
        return {err::kDeviceIo, "Fehler beim Lesen/Schreiben des Datenträgers", "device I/O error"};
    case Failure::Unconfirmed:
        return {err::kDeviceIo, "Datenträger meldet einen Schreibfehler, Datei unbekannt",
                "the medium reported a write error without saying for which file"};
    }
    return {err::kDeviceIo, "Unbekannter Fehler", "unknown error"};
}

}  // namespace

int errorNumber(Failure failure)
{
    return describe(failure).number;
}

std::string errorText(Failure failure)
{
    const Description d = describe(failure);
    return std::string(d.german) + " (" + d.english + ")";
}

std::string englishReason(Failure failure)
{
    return describe(failure).english;
}

RunTimeError::RunTimeError(Failure failure, int osError, std::string osText)
    : std::runtime_error(errorText(failure)), failure_(failure), osError_(osError), osText_(std::move(osText))
{
}

std::string RunTimeError::english() const
{
    std::string reason = englishReason(failure_);
    if (failure_ == Failure::DeviceIo && !osText_.empty()) {
        reason += " (" + osText_ + ")";
    }
    return reason;
}

}  // namespace ks::platform
