// The folder workflow on folders that fight back: things that are no regular
// files, broken tiles, files that change between listing and batch, and a
// folder of fifty thousand tiles.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "support/disk.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"
#include "workflow/workflow.h"

namespace ks::workflow {
namespace {

using platform::Buttons;
using platform::Icon;
using platform::Message;
using testing::Bytes;
using testing::TileBuilder;
namespace fs = std::filesystem;

const Message kFinished{"Transparenz-Änderung beendet ... (finished)", "", Icon::None, Buttons::Ok};
const Message kTreNotFound{"TRE nicht gefunden", "", Icon::None, Buttons::Ok};
const Message kTreBad{"Fehler in TRE", "", Icon::None, Buttons::Ok};
const Message kOverflow{"Überlauf (overflow)", "F e h l e r !", Icon::Warning, Buttons::Ok};
const Message kBadRecord{"Falsche Datensatznummer (bad record number)", "F e h l e r !", Icon::Warning, Buttons::Ok};
const Message kNotFound{"Datei nicht gefunden (file not found)", "F e h l e r !", Icon::Warning, Buttons::Ok};
const Message kWriterAccess{"Fehler : 75", "", Icon::Warning, Buttons::Ok};

// One line per message box, with all four parts, so that a failure shows them.
std::vector<std::string> described(const std::vector<Message>& messages)
{
    std::vector<std::string> lines;
    for (const Message& m : messages) {
        lines.push_back("\"" + m.prompt + "\" / \"" + m.title + "\" / icon " + std::to_string(static_cast<int>(m.icon)) +
                        " / buttons " + std::to_string(static_cast<int>(m.buttons)));
    }
    return lines;
}

// Owns one socket descriptor; closes it on every path.
class SocketHandle {
public:
    SocketHandle() : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {}
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    ~SocketHandle()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Leaves a Unix socket file at path (nobody listens on it).
void makeSocket(const std::string& path)
{
    const SocketHandle socket;
    ASSERT_GE(socket.get(), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
}

// Every entry below a folder, links not followed: its kind, and a link's target.
std::map<std::string, std::string> listing(const std::string& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        switch (entry.symlink_status().type()) {
        case fs::file_type::symlink: entries[name] = "link to " + fs::read_symlink(entry.path()).string(); break;
        case fs::file_type::regular: entries[name] = "file"; break;
        case fs::file_type::directory:
            entries[name] = "folder";
            for (const auto& [inner, kind] : listing(entry.path().string())) {
                entries[name + "/" + inner] = kind;
            }
            break;
        case fs::file_type::fifo: entries[name] = "fifo"; break;
        case fs::file_type::socket: entries[name] = "socket"; break;
        default: entries[name] = "other"; break;
        }
    }
    return entries;
}

// The bytes of every regular file below a folder, links not followed.
std::map<std::string, Bytes> contents(const std::string& folder)
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        const auto type = entry.symlink_status().type();
        if (type == fs::file_type::regular) {
            files[name] = testing::readFile(entry.path().string());
        } else if (type == fs::file_type::directory) {
            for (auto& [inner, bytes] : contents(entry.path().string())) {
                files[name + "/" + inner] = std::move(bytes);
            }
        }
    }
    return files;
}

class HostileFolder : public ::testing::Test {
protected:
    std::string put(const std::string& name, const Bytes& bytes)
    {
        testing::writeFile(dir.file(name), bytes);
        return dir.file(name);
    }
    std::string shown(const std::string& name) const { return env.ui.toUpper(dir.path()) + name; }
    Message notImg(const std::string& name) const
    {
        return Message{"Datei " + shown(name) + " ist keine IMG  ", "F e h l e r", Icon::Warning, Buttons::Ok};
    }
    Message accessQuestion(const std::string& name) const
    {
        return Message{"Kein Zugriff auf " + shown(name) +
                           "\r\nWeiter (bei einzelnen Dateien) oder A b b r e c h e n (cancel)?   ",
                       "Fehler ! (R-Attribut ??)", Icon::Critical, Buttons::OkCancel};
    }
    std::string caption(std::size_t count) const
    {
        return "Pfad " + env.ui.toUpper(dir.path()) + " hat " + std::to_string(count) + " Dateien";
    }

    testing::TempDir dir;
    testing::ScriptedPlatform env;
    Workflow flow{env.platform};
};

TEST_F(HostileFolder, EveryPassEndsWithExactlyTheMessagesItOwesAndOnlyFlagBytesChange)
{
    const std::size_t flagAt = static_cast<std::size_t>(TileBuilder::ordinary(0).flagOffset());

    put("A.IMG", TileBuilder::ordinary(0x00).build());
    put("B.IMG", TileBuilder::ordinary(0x02).masked().build());
    put("M.IMG", TileBuilder::ordinary(0x81).masked().build());
    put("ZZ.IMG", TileBuilder::ordinary(0xFC).build());
    put("FATEND.IMG", TileBuilder::ordinary(0x00).fatEnd(0x7FFFFFFF).build());
    // The directory walk runs to the end of the file; no " TRE" header anywhere that it could take for an entry.
    put("FATNOTRE.IMG",
        TileBuilder::ordinary(0x00).entries({{"RGN", 10}, {"LBL", 12}}).treHeaderAt(-1).fatEnd(0x7FFFFFFF).build());
    put("NEGBLOCK.IMG", TileBuilder::ordinary(0x00).entries({{"RGN", 10}, {"TRE", 0x8000}, {"LBL", 12}}).build());
    put("OVERFLOW.IMG", TileBuilder::ordinary(0x00).exponents(16, 15).build());
    put("NOHEAD.IMG", TileBuilder::ordinary(0x00).treHeaderAt(-1).build());
    put("EMPTY.IMG", Bytes{});
    put("SHORT.IMG", Bytes(15, 0x44));
    const std::string gone = put("GONE.IMG", TileBuilder::ordinary(0x00).build());
    const std::string text = put("TEXT.IMG", TileBuilder::ordinary(0x00).build());
    const std::string readOnly = put("RO.IMG", TileBuilder::ordinary(0x00).build());
    const std::string pipe = put("PIPE.IMG", TileBuilder::ordinary(0x00).build());

    ASSERT_EQ(::mkfifo(dir.file("FIFO.IMG").c_str(), 0644), 0);
    ASSERT_NO_FATAL_FAILURE(makeSocket(dir.file("SOCKET.IMG")));
    fs::create_symlink(dir.file("NOWHERE.IMG"), dir.file("DANGLING.IMG"));
    fs::create_symlink("LOOP2.IMG", dir.file("LOOP1.IMG"));
    fs::create_symlink("LOOP1.IMG", dir.file("LOOP2.IMG"));
    fs::create_directory(dir.file("SUB"));
    testing::writeFile(dir.file("SUB/IN.IMG"), TileBuilder::ordinary(0x00).build());
    fs::create_directory_symlink(dir.file("SUB"), dir.file("LINKDIR.IMG"));
    fs::create_directory(dir.file("X.IMG"));
    testing::writeFile(dir.file("X.IMG/IN.IMG"), TileBuilder::ordinary(0x00).build());

    const auto namesAtStart = listing(dir.path());
    const auto bytesAtStart = contents(dir.path());

    // The listing pass.
    env.ui.choices.emplace_back(dir.file("A.IMG"));
    flow.mn_Datei_Click();

    const std::vector<Message> listingMessages{notImg("EMPTY.IMG"), kTreNotFound, kBadRecord, kTreBad, kOverflow,
                                               notImg("SHORT.IMG")};
    EXPECT_EQ(described(env.ui.messages), described(listingMessages));
    EXPECT_EQ(env.ui.entries(),
              (std::vector<std::string>{"A.IMG  < >", "B.IMG  <T>", "FATEND.IMG  < >", "FATNOTRE.IMG  <?>",
                                        "GONE.IMG  < >", "M.IMG  < >", "NEGBLOCK.IMG  <?>", "NOHEAD.IMG  <?>",
                                        "OVERFLOW.IMG  <?>", "PIPE.IMG  < >", "RO.IMG  < >", "TEXT.IMG  < >",
                                        "ZZ.IMG  < >"}));
    EXPECT_EQ(env.ui.caption, caption(13));
    EXPECT_FALSE(env.ui.waitVisible);
    EXPECT_EQ(listing(dir.path()), namesAtStart) << "listing creates nothing";
    EXPECT_EQ(contents(dir.path()), bytesAtStart) << "listing writes nothing";

    // The folder changes under the listed entries.
    fs::remove(gone);
    testing::writeFile(text, Bytes(600, 't'));
    testing::makeReadOnly(readOnly);
    fs::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    const auto namesBeforeBatch = listing(dir.path());
    const auto bytesBeforeBatch = contents(dir.path());

    env.ui.messages.clear();
    flow.cmd_Mark_Click();
    flow.cmd_Trnsp_Click(1);

    const std::vector<Message> batchMessages{
        kTreNotFound,              // FATNOTRE.IMG
        kNotFound,                 // GONE.IMG
        kBadRecord,                // NEGBLOCK.IMG
        kTreBad,                   // NOHEAD.IMG
        kOverflow,                 // OVERFLOW.IMG
        accessQuestion("PIPE.IMG"), kWriterAccess,
        accessQuestion("RO.IMG"), kWriterAccess,
        notImg("TEXT.IMG"), kWriterAccess,  // the writer is handed the path the probe emptied
        kFinished};
    const std::vector<Message> relistMessages{notImg("EMPTY.IMG"),      kTreNotFound, kBadRecord, kTreBad, kOverflow,
                                              accessQuestion("RO.IMG"), notImg("SHORT.IMG"), notImg("TEXT.IMG")};
    std::vector<Message> expected = batchMessages;
    expected.insert(expected.end(), relistMessages.begin(), relistMessages.end());
    EXPECT_EQ(described(env.ui.messages), described(expected));

    EXPECT_EQ(env.ui.entries(),
              (std::vector<std::string>{"A.IMG  <T>", "B.IMG  <T>", "FATEND.IMG  <T>", "FATNOTRE.IMG  <?>",
                                        "M.IMG  <T>", "NEGBLOCK.IMG  <?>", "NOHEAD.IMG  <?>", "OVERFLOW.IMG  <?>",
                                        "RO.IMG Kein Zugriff möglich", "ZZ.IMG  <T>"}));
    EXPECT_EQ(env.ui.caption, caption(10));
    EXPECT_FALSE(env.ui.waitVisible);

    EXPECT_EQ(listing(dir.path()), namesBeforeBatch) << "the batch creates and removes nothing";
    const auto bytesAfter = contents(dir.path());
    ASSERT_EQ(bytesAfter.size(), bytesBeforeBatch.size());
    const std::map<std::string, std::uint8_t> changedFlags{
        {"A.IMG", 0x02}, {"FATEND.IMG", 0x02}, {"M.IMG", 0x83 ^ 0x5B}, {"ZZ.IMG", 0xFE}};
    for (const auto& [name, before] : bytesBeforeBatch) {
        SCOPED_TRACE(name);
        const Bytes& after = bytesAfter.at(name);
        if (const auto changed = changedFlags.find(name); changed != changedFlags.end()) {
            EXPECT_EQ(testing::differingOffsets(before, after), std::vector{flagAt});
            EXPECT_EQ(after.at(flagAt), changed->second);
        } else {
            EXPECT_EQ(after, before);
        }
    }
}

// The whole file in one read: fifty thousand byte-by-byte reads take long in
// a sanitizer build.
Bytes readAtOnce(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    Bytes bytes(static_cast<std::size_t>(fs::file_size(path)));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in || in.peek() != std::ifstream::traits_type::eof()) {
        throw std::runtime_error("cannot read " + path);
    }
    return bytes;
}

// Small tiles: 64-byte blocks and the TRE header right after a one-entry directory.
constexpr std::int64_t kSmallTreHeader = 0x800;
TileBuilder smallTile(std::uint8_t flags)
{
    return TileBuilder().exponents(6, 0).entries({{"TRE", kSmallTreHeader / 64}}).treHeaderAt(kSmallTreHeader).treFlags(
        flags);
}

// While alive, temporary folders are made in memory-backed /dev/shm if the
// system has it: fifty thousand file creations and syncs on a disk measure the
// disk, not the program.
class TemporaryFilesInMemory {
public:
    TemporaryFilesInMemory()
    {
        if (const char* old = std::getenv(kVariable)) {
            old_ = old;
        }
        std::error_code ec;
        if (fs::is_directory(kMemoryFolder, ec) && ::access(kMemoryFolder, W_OK) == 0) {
            ::setenv(kVariable, kMemoryFolder, 1);
        }
    }
    TemporaryFilesInMemory(const TemporaryFilesInMemory&) = delete;
    TemporaryFilesInMemory& operator=(const TemporaryFilesInMemory&) = delete;
    ~TemporaryFilesInMemory()
    {
        if (old_) {
            ::setenv(kVariable, old_->c_str(), 1);
        } else {
            ::unsetenv(kVariable);
        }
    }

private:
    static constexpr const char* kVariable = "TMPDIR";
    static constexpr const char* kMemoryFolder = "/dev/shm";
    std::optional<std::string> old_;
};

TEST(HugeFolder, FiftyThousandTilesAreListedMarkedAndAllMadeTransparent)
{
    constexpr int kTiles = 50000;
    const TemporaryFilesInMemory inMemory;
    testing::TempDir dir;
    const Bytes opaque = smallTile(0x00).build();
    const Bytes transparent = smallTile(0x02).build();
    ASSERT_LT(opaque.size(), 2200U);
    ASSERT_EQ(testing::differingOffsets(opaque, transparent),
              std::vector{static_cast<std::size_t>(smallTile(0).flagOffset())});
    std::vector<std::string> names;
    names.reserve(kTiles);
    for (int i = 0; i < kTiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof(name), "T%05d.IMG", i);
        names.emplace_back(name);
        testing::writeFile(dir.file(name), opaque);
    }
    testing::ScriptedPlatform env;
    Workflow flow{env.platform};
    const std::string caption = "Pfad " + env.ui.toUpper(dir.path()) + " hat 50000 Dateien";

    env.ui.choices.emplace_back(dir.file(names.front()));
    flow.mn_Datei_Click();
    ASSERT_EQ(env.ui.list.size(), static_cast<std::size_t>(kTiles));
    EXPECT_EQ(env.ui.list.front().text, names.front() + "  < >");
    EXPECT_EQ(env.ui.list.back().text, names.back() + "  < >");
    EXPECT_EQ(env.ui.caption, caption);
    EXPECT_TRUE(env.ui.messages.empty());

    flow.cmd_Mark_Click();
    flow.cmd_Trnsp_Click(1);

    EXPECT_EQ(described(env.ui.messages), described({kFinished}));
    EXPECT_EQ(env.ui.caption, caption);
    ASSERT_EQ(env.ui.list.size(), static_cast<std::size_t>(kTiles));
    for (int i = 0; i < kTiles; ++i) {
        ASSERT_EQ(env.ui.list[i].text, names[i] + "  <T>");
        ASSERT_FALSE(env.ui.list[i].marked);
    }
    std::size_t seen = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        ++seen;
        ASSERT_EQ(readAtOnce(entry.path().string()), transparent) << entry.path();
    }
    EXPECT_EQ(seen, static_cast<std::size_t>(kTiles)) << "no file is created";
}

}  // namespace
}  // namespace ks::workflow
