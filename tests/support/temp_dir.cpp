#include "temp_dir.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace ks::testing {

namespace fs = std::filesystem;

fs::path u8(const std::string& path)
{
    return fs::path(std::u8string(path.begin(), path.end()));
}

std::string u8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TempDir::TempDir(const std::string& base)
{
    std::random_device random;  // test programs run side by side: a name of their own each
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = (base.empty() ? fs::temp_directory_path() : u8(base)) / ("kartenschalter-" + std::to_string(random()));
        if (fs::create_directory(path_)) {
            return;
        }
    }
    throw std::runtime_error("no temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const
{
    return u8((path_ / u8(name)).make_preferred());
}

std::string TempDir::put(const std::string& name, const Bytes& bytes) const
{
    fs::create_directories(u8(file(name)).parent_path());
    writeFile(file(name), bytes);
    return file(name);
}

std::map<std::string, Bytes> TempDir::files() const
{
    std::map<std::string, Bytes> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_symlink() && it->is_regular_file()) {
            found[u8(fs::path(fs::relative(it->path(), path_).generic_u8string()))] = readFile(u8(it->path()));
        }
    }
    return found;
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(u8(path), std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(u8(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void makeReadOnly(const std::string& path)
{
    fs::permissions(u8(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

}  // namespace ks::testing
