#include <filesystem>
#include <system_error>

#include "platform.h"

namespace ks::platform {

namespace {

// The run-time error for a failed look into a folder.
RunTimeError folderError(const std::error_code& ec)
{
    const Failure failure = ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory
                                ? Failure::PathNotFound
                            : ec == std::errc::permission_denied ? Failure::AccessDenied
                            : ec == std::errc::too_many_files_open ? Failure::TooManyFiles
                                                                     : Failure::DeviceIo;
    return RunTimeError(failure, ec.value(), ec.message());
}

}  // namespace

std::vector<std::string> FileLayer::subfolders(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(fs::path(std::u8string(folder.begin(), folder.end())), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_symlink(typeError) && it->is_directory(typeError)) {
            const std::u8string name = it->path().filename().u8string();
            names.emplace_back(name.begin(), name.end());
        }
    }
    if (ec) {
        throw folderError(ec);
    }
    return names;
}

}  // namespace ks::platform
