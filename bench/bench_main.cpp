// The I/O benchmark on Google Benchmark (method: docs/performance.md; bench.sh maps its options to the library's
// flags, bench/ratios.py makes the tables). PART/TILES/files:N times one pass over a folder of N copies of a tile
// per iteration, container/LAYOUT/maps:N one listing of a combined container; the rates count files and maps.
// Sizes come from KS_BENCH_SIZES (default 1000,10000); the folders go below TMPDIR.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "container/le.h"
#include "platform/posix_files.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"
#include "ui/main_window.h"
#include "ui/widgets.h"

namespace {

using namespace ks::platform;
using Clock = std::chrono::steady_clock;

constexpr int kFirstMapName = 63240000;  // tiles are named 63240000.img, 63240001.img, ...
constexpr int kWarmFiles = 10;           // tiles in the folder listed to warm up
constexpr const char* kEndMessage = "Transparenz-Änderung beendet ... (finished)";

// Container layout the floor reads (0-based offsets).
constexpr std::size_t kFirstEntry = 0x600;      // first directory entry of a container
constexpr std::size_t kEntrySize = 0x200;       // bytes per directory entry
constexpr std::size_t kDirectoryRead = 4096;    // the floor's first read: the directory
constexpr std::size_t kTreHeaderSpan = 0x40;    // TRE header bytes up to the flag byte
constexpr int kLargestExponent = 30;            // the largest block-size exponent the job accepts
constexpr std::uint8_t kTransparentBit = 0x02;  // in the TRE flag byte

// A tile form measured: a checked-in mkgmap sample (tests/data).
struct TileForm { const char* name; const char* sample; };
constexpr TileForm kForms[] = {{"contour", "contour.img"}, {"compact", "opaque.img"}, {"bigblock", "bigblock.img"}};

// Owns a descriptor; closes it when it goes.
struct Fd { ~Fd() { if (fd >= 0) ::close(fd); } int fd; };

// The offset of the first TRE header named in the directory bytes of a plain
// (unmasked) container, or nothing.
std::optional<std::uint64_t> firstTreHeader(const std::uint8_t* bytes, std::size_t got)
{
    const int exponent = got < kFirstEntry ? kLargestExponent + 1 : bytes[0x61] + bytes[0x62];
    for (std::size_t e = kFirstEntry; exponent <= kLargestExponent && e + kEntrySize <= got; e += kEntrySize) {
        if (std::memcmp(bytes + e + 9, "TRE", 3) == 0 && bytes[e + 0x10] == 0 && bytes[e + 0x11] == 0) {
            return std::uint64_t{ks::le::load<std::uint16_t>(std::span<const std::uint8_t, 2>(bytes + e + 0x20, 2))}
                   << exponent;
        }
    }
    return std::nullopt;
}

// Reads the flag byte of the tile open at fd as the floor does: the first 4 KiB
// (the directory), then the TRE header unless that read held it. Returns the
// flag byte's offset, or nothing when there is no TRE header.
std::optional<std::uint64_t> readFlags(int fd, std::uint8_t& flags)
{
    std::uint8_t directory[kDirectoryRead];
    const ssize_t got = ::pread(fd, directory, sizeof directory, 0);
    const auto tre = firstTreHeader(directory, got < 0 ? 0 : static_cast<std::size_t>(got));
    flags = 0;
    if (tre && *tre + kTreHeaderSpan <= static_cast<std::uint64_t>(got)) {
        flags = directory[*tre + kTreHeaderSpan - 1];
    } else if (tre && ::pread(fd, directory, kTreHeaderSpan, off_t(*tre)) == ssize_t{kTreHeaderSpan}) {
        flags = directory[kTreHeaderSpan - 1];
    } else {
        return std::nullopt;
    }
    return *tre + kTreHeaderSpan - 1;
}

// The floor: what any tool must do at least to tell the transparency of every
// tile of a folder. Enumerates the folder; per regular file opens it with
// openFlags by its name in the folder, reads the first 4 KiB (the directory),
// reads the TRE header unless that read held it, and closes it. guarded adds
// the program's two checks: a stat of the type before the open, an fstat of
// the identity after it. Returns how many transparent tiles it saw.
long floorPass(const std::string& folder, int openFlags, bool guarded);

// The safe floor: the calls the file layer's look makes and nothing else. Per
// regular file an O_PATH open by its name in the folder, its fstat (a regular
// file its owner may write), the reopen through /proc/self/fd with openFlags,
// the floor's reads and two closes.
long safeFloorPass(const std::string& folder, int openFlags)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    long transparent = 0;
    while (const dirent* entry = dir ? ::readdir(dir.get()) : nullptr) {
        struct stat info {};
        const Fd look{entry->d_type == DT_REG ? ::openat(::dirfd(dir.get()), entry->d_name, O_PATH | O_CLOEXEC) : -1};
        if (look.fd < 0 || ::fstat(look.fd, &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & S_IWUSR) == 0) {
            continue;
        }
        const std::string through = "/proc/self/fd/" + std::to_string(look.fd);
        const Fd fd{::open(through.c_str(), openFlags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
        std::uint8_t flags = 0;
        transparent += fd.fd >= 0 && readFlags(fd.fd, flags) && (flags & kTransparentBit) != 0 ? 1 : 0;
    }
    return transparent;
}

// The batch's floor: per regular file the floor's open and reads, the one-byte
// write that sets (or clears) the transparency bit, the close; then one syncfs
// of the folder's file system. Returns how many files it wrote.
long writeFloorPass(const std::string& folder, bool transparent)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    long written = 0;
    while (const dirent* entry = dir ? ::readdir(dir.get()) : nullptr) {
        const Fd fd{entry->d_type == DT_REG ? ::openat(::dirfd(dir.get()), entry->d_name, O_RDWR | O_CLOEXEC) : -1};
        std::uint8_t flags = 0;
        const auto at = fd.fd < 0 ? std::nullopt : readFlags(fd.fd, flags);
        const auto now = static_cast<std::uint8_t>(transparent ? flags | kTransparentBit : flags & ~kTransparentBit);
        written += at && ::pwrite(fd.fd, &now, 1, off_t(*at)) == 1 ? 1 : 0;
    }
    return dir && ::syncfs(::dirfd(dir.get())) == 0 ? written : -1;
}

long floorPass(const std::string& folder, int openFlags, bool guarded)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    long transparent = 0;
    std::uint8_t directory[kDirectoryRead];
    while (const dirent* entry = dir ? ::readdir(dir.get()) : nullptr) {
        struct stat before {}, opened {};
        if (entry->d_type != DT_REG || (guarded && (::fstatat(::dirfd(dir.get()), entry->d_name, &before, 0) != 0 ||
                                                    !S_ISREG(before.st_mode)))) {
            continue;
        }
        const Fd fd{::openat(::dirfd(dir.get()), entry->d_name, openFlags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
        if (fd.fd < 0 || (guarded && (::fstat(fd.fd, &opened) != 0 || opened.st_ino != before.st_ino ||
                                      opened.st_dev != before.st_dev))) {
            continue;
        }
        const ssize_t got = ::pread(fd.fd, directory, sizeof directory, 0);
        const auto tre = firstTreHeader(directory, got < 0 ? 0 : static_cast<std::size_t>(got));
        std::uint8_t flags = 0;
        if (tre && *tre + kTreHeaderSpan <= static_cast<std::uint64_t>(got)) {
            flags = directory[*tre + kTreHeaderSpan - 1];
        } else if (tre && ::pread(fd.fd, directory, kTreHeaderSpan, off_t(*tre)) == ssize_t{kTreHeaderSpan}) {
            flags = directory[kTreHeaderSpan - 1];
        }
        transparent += (flags & kTransparentBit) != 0 ? 1 : 0;
    }
    return transparent;
}

// A lean Ui: the list in memory, every box answered OK and counted, the file
// dialog always returning `choice`.
class BenchUi final : public Ui {
public:
    std::string choice, lastPrompt;
    std::size_t boxes = 0;
    std::vector<std::string> texts;
    std::vector<char> marks;

    Answer messageBox(const Message& m) override { ++boxes; lastPrompt = m.prompt; return Answer::Ok; }
    std::optional<std::string> chooseFile(const std::vector<FileFilter>&, std::size_t, const std::string&) override
    {
        return choice;
    }
    void listClear() override { texts.clear(); marks.clear(); }
    void listAdd(const std::string& text) override { texts.push_back(text); marks.push_back(0); }
    std::size_t listCount() const override { return texts.size(); }
    std::string listText(std::size_t i) const override { return texts.at(i); }
    bool listMarked(std::size_t i) const override { return marks.at(i) != 0; }
    void listSetMarked(std::size_t i, bool marked) override { marks.at(i) = marked ? 1 : 0; }
    void listSetAllMarked(bool marked) override { std::ranges::fill(marks, marked ? 1 : 0); }
    void listFocusFirst() override {}
    void setCaption(const std::string&) override {}
    void setWaitVisible(bool) override {}
    void processEvents() override {}
    std::string toUpper(const std::string& text) const override
    {
        std::string out = text;
        std::ranges::transform(out, out.begin(), [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; });
        return out;
    }
};

// The real file layer behind a thin wrapper that counts what the program asks
// of it and decides how written bytes reach the medium. Every variant pays the
// same wrapper.
class WrappedFiles final : public FileLayer {
public:
    enum class Flush {
        PerBatch,  // the program's way: finishWrites, then one flush of the batch
        PerFile,   // the old way: an fdatasync right after each file's writes; the batch's flush finds nothing left
        None,      // the bytes stay in the page cache (the lock goes with the close)
    };
    explicit WrappedFiles(Flush flush) : flush_(flush) {}

    long opens = 0, reads = 0, bytesRead = 0;
    double finishSeconds = 0, flushSeconds = 0;  // spent in MapFile::finishWrites, in flush

    std::unique_ptr<MapFile> open(const std::string& path, OpenMode mode) override
    {
        ++opens;
        return std::make_unique<File>(real_.open(path, mode), path, *this);
    }
    FolderContents list(const std::string& folder) override { return real_.list(folder); }
    bool isFolder(const std::string& path) override { return real_.isFolder(path); }
    std::vector<std::optional<RunTimeError>> flush(std::span<MapFile* const> files) override
    {
        std::vector<MapFile*> inner;
        std::ranges::transform(files, back_inserter(inner), [](auto* f) { return static_cast<File*>(f)->inner.get(); });
        const auto start = Clock::now();
        auto results = flush_ == Flush::PerBatch ? real_.flush(inner) : decltype(real_.flush(inner))(files.size());
        flushSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        return results;
    }

private:
    struct File final : MapFile {
        File(std::unique_ptr<MapFile> file, std::string path, WrappedFiles& layer)
            : inner(std::move(file)), path(std::move(path)), layer(layer) {}
        std::uint64_t size() const override { return inner->size(); }
        std::size_t readAt(std::uint64_t o, std::span<std::uint8_t> out) override
        {
            ++layer.reads;
            layer.bytesRead += static_cast<long>(out.size());
            return inner->readAt(o, out);
        }
        void writeByteAt(std::uint64_t o, std::uint8_t v) override { inner->writeByteAt(o, v); }
        void finishWrites() override
        {
            const auto start = Clock::now();
            if (layer.flush_ != Flush::None) {
                inner->finishWrites();
            }
            if (layer.flush_ == Flush::PerFile) {  // fdatasync reaches the file's data through any descriptor of it
                const Fd fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
                if (fd.fd < 0 || ::fdatasync(fd.fd) != 0) {
                    throw errnoError(errno);
                }
            }
            layer.finishSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        }
        std::unique_ptr<MapFile> inner;
        std::string path;
        WrappedFiles& layer;
    };

    Flush flush_;
    PosixFileLayer real_;
};

// A workflow with its own lean Ui over a file layer.
struct Session {
    Session(FileLayer& files, const std::string& first) : platform{ui, files}, flow(platform) { ui.choice = first; }
    // Lists the folder; whether that showed `files` entries and no box.
    bool list(std::int64_t files)
    {
        const std::size_t boxes = ui.boxes;
        flow.mn_Datei_Click();
        return ui.texts.size() == static_cast<std::size_t>(files) && ui.boxes == boxes;
    }
    // Marks and switches every file; whether only the end message came and the relisting shows every file switched.
    bool batch(bool transparent)
    {
        const std::size_t boxes = ui.boxes;
        flow.cmd_Mark_Click();
        flow.cmd_Trnsp_Click(transparent ? 1 : 0);
        const char* kennung = transparent ? ks::workflow::kKennungTransparent : ks::workflow::kKennungOpaque;
        return ui.boxes == boxes + 1 && ui.lastPrompt == kEndMessage &&
               std::ranges::all_of(ui.texts, [&](const std::string& t) { return t.ends_with(kennung); });
    }
    BenchUi ui;
    Platform platform;
    ks::workflow::Workflow flow;
};

// Runs job and sets the resident (/proc/self/statm) and heap bytes (small and
// mapped blocks) it added per item as counters; returns what job returned.
bool memoryOf(benchmark::State& state, double items, const std::function<bool()>& job)
{
    const auto inUse = [] {
        ::malloc_trim(0);  // what the allocator keeps spare does not count
        std::ifstream statm("/proc/self/statm");
        long pages = 0, resident = 0;
        statm >> pages >> resident;
        return std::pair{double(resident * sysconf(_SC_PAGESIZE)), double(::mallinfo2().uordblks + ::mallinfo2().hblkhd)};
    };
    const auto before = inUse();
    const bool ok = job();
    const auto after = inUse();
    state.counters.insert({{"rss_per_file", (after.first - before.first) / items},
                           {"heap_per_file", (after.second - before.second) / items}});
    return ok;
}

// A folder below TMPDIR, and the state of the tiles in it.
struct Folder {
    std::string first() const { return dir.file(std::to_string(kFirstMapName) + ".img"); }  // what the dialog "chooses"
    ks::testing::TempDir dir;
    bool transparent = false;  // the samples are opaque; every batch switches them all
};

// The folder named key, filled by fill and synced at its first use, kept to the end.
Folder& folderOf(const std::string& key, const std::function<void(const ks::testing::TempDir&)>& fill)
{
    static std::map<std::string, std::unique_ptr<Folder>> folders;
    auto& folder = folders[key];
    if (!folder) {
        folder = std::make_unique<Folder>();
        fill(folder->dir);
        ::sync();
    }
    return *folder;
}

// The folder of `files` copies of form's tile, named 63240000.img, 63240001.img, ...
Folder& folderOf(const TileForm& form, std::int64_t files)
{
    return folderOf(form.name + std::to_string(files), [&](const ks::testing::TempDir& dir) {
        const auto tile = ks::testing::readFile(std::string(KS_SAMPLE_DIR) + "/" + form.sample);
        for (int i = 0; i < files; ++i) {
            ks::testing::writeFile(dir.file(std::to_string(kFirstMapName + i) + ".img"), tile);
        }
    });
}

// Times pass, one per iteration over state.range(0) items; a set-up that was
// not ok or a pass that went wrong makes the benchmark's error.
void timePasses(benchmark::State& state, bool ok, const std::function<bool()>& pass)
{
    for (auto _ : state) {
        ok = pass() && ok;
    }
    if (!ok) {
        state.SkipWithError("a pass went wrong: the floor misread, or the program listed or switched other files");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void floorBench(benchmark::State& state, const TileForm* form, int openFlags, bool guarded)
{
    const Folder& folder = folderOf(*form, state.range(0));
    timePasses(state, true, [&] {
        return floorPass(folder.dir.path(), openFlags, guarded) == (folder.transparent ? state.range(0) : 0);
    });
}

void safeFloorBench(benchmark::State& state, const TileForm* form)
{
    const Folder& folder = folderOf(*form, state.range(0));
    timePasses(state, true, [&] {
        return safeFloorPass(folder.dir.path(), O_RDWR) == (folder.transparent ? state.range(0) : 0);
    });
}

void writeFloorBench(benchmark::State& state, const TileForm* form)
{
    Folder& folder = folderOf(*form, state.range(0));
    timePasses(state, true, [&] {
        state.PauseTiming();
        ::sync();
        folder.transparent = !folder.transparent;
        state.ResumeTiming();
        return writeFloorPass(folder.dir.path(), folder.transparent) == state.range(0);
    });
}

void listBench(benchmark::State& state, const TileForm* form)
{
    PosixFileLayer posix;
    Session s(posix, folderOf(*form, state.range(0)).first());
    const auto pass = [&] { return s.list(state.range(0)); };
    timePasses(state, memoryOf(state, state.range(0), pass), pass);
}

void listScriptedBench(benchmark::State& state, const TileForm* form)
{
    const std::string chosen = folderOf(*form, state.range(0)).first();
    ks::testing::ScriptedPlatform scripted;
    PosixFileLayer posix;
    Platform platform{scripted.ui, posix};
    ks::workflow::Workflow flow(platform);
    timePasses(state, true, [&] {
        scripted.ui.choices.emplace_back(chosen);
        flow.mn_Datei_Click();
        return scripted.ui.list.size() == static_cast<std::size_t>(state.range(0));
    });
}

// Every pass switches every tile; the disk is synced before each, outside the time.
void batchBench(benchmark::State& state, const TileForm* form, WrappedFiles::Flush flush)
{
    Folder& folder = folderOf(*form, state.range(0));
    WrappedFiles layer(flush);
    Session s(layer, folder.first());
    timePasses(state, s.list(state.range(0)), [&] {
        state.PauseTiming();
        ::sync();
        folder.transparent = !folder.transparent;
        state.ResumeTiming();
        return s.batch(folder.transparent);
    });
    const double us = 1e6 / static_cast<double>(std::max<std::int64_t>(state.iterations() * state.range(0), 1));
    state.counters.insert({{"finish_us", layer.finishSeconds * us}, {"flush_us", layer.flushSeconds * us}});
}

// List fill and repaint included; the memory is taken after a first listing of
// a small folder has set up what every later one shares (fonts, caches).
void windowBench(benchmark::State& state, const TileForm* form)
{
    std::string chosen = folderOf(*form, kWarmFiles).first();
    PosixFileLayer posix;
    ks::ui::MainWindow window(posix);
    window.qtUi().setMessageHook([](const Message&) { return Answer::Ok; });
    window.qtUi().setChooseFileHook([&] { return std::optional<std::string>(chosen); });
    window.show();
    const auto* list = window.findChild<ks::ui::EntryList*>();
    const auto listing = [&](std::int64_t expected) {
        window.workflow().mn_Datei_Click();
        QApplication::processEvents();  // the list draws its new entries
        return list != nullptr && list->count() == expected;
    };
    const bool warm = listing(kWarmFiles);
    chosen = folderOf(*form, state.range(0)).first();
    const auto pass = [&] { return listing(state.range(0)); };
    timePasses(state, memoryOf(state, static_cast<double>(state.range(0) - kWarmFiles), pass) && warm, pass);
}

constexpr std::uint8_t kSpreadExponent = 12;          // 4 KiB blocks, as large containers use
constexpr std::uint64_t kSpreadBlock = 1U << kSpreadExponent;
constexpr std::uint64_t kSpreadMapBytes = 64 * 1024;  // one map's subfiles in a spread container
constexpr std::uint64_t kSpreadTreAt = 48 * 1024;     // its TRE header, after its RGN data

// A combined container of `maps` maps, one in four transparent. Packed: TileBuilder::combined, one TRE entry per
// map, the headers back to back after the directory. Spread: as mkgmap writes a gmapsupp, RGN, TRE and LBL
// entries per map, each map's subfiles in turn.
ks::testing::TileBuilder containerOf(std::uint64_t maps, bool spread)
{
    std::vector<std::uint8_t> flags;
    for (std::uint64_t k = 0; k < maps; ++k) {
        flags.push_back(k % 4 == 1 ? kTransparentBit : 0);
    }
    if (!spread) {
        return ks::testing::TileBuilder::combined(flags);
    }
    auto builder = ks::testing::TileBuilder::combined({}, kSpreadExponent);
    const std::uint64_t dataStart = (kFirstEntry + 3 * maps * kEntrySize + kSpreadBlock - 1) & ~(kSpreadBlock - 1);
    const auto block = [](std::uint64_t offset) { return static_cast<std::uint16_t>(offset / kSpreadBlock); };
    std::vector<ks::testing::Entry> entries;
    for (std::uint64_t k = 0; k < maps; ++k) {
        const std::uint64_t map = dataStart + k * kSpreadMapBytes;
        const std::string name = std::to_string(kFirstMapName + k);
        entries.insert(entries.end(), {{"RGN", block(map), 0, name}, {"TRE", block(map + kSpreadTreAt), 0, name},
                                       {"LBL", block(map + kSpreadTreAt + kSpreadBlock), 0, name}});
        builder.header(map + kSpreadTreAt, flags[k]);
    }
    builder.entries(entries).size(dataStart + maps * kSpreadMapBytes);
    return builder;
}

// The opens, reads and bytes of one listing are counted before the timed
// listings, which go through the bare file layer.
void containerBench(benchmark::State& state, bool spread)
{
    const auto maps = static_cast<std::uint64_t>(state.range(0));
    const auto builder = containerOf(maps, spread);
    const auto image = builder.image();
    const std::string path = folderOf(std::to_string(spread) + "/" + std::to_string(maps), [&](const auto& dir) {
        if (!spread) {
            ks::testing::writeFile(dir.file("gmapsupp.img"), builder.build());  // in one write, as a copy is made
        } else {
            image.writeTo(dir.file("gmapsupp.img"));  // sparse: the 64 MiB of 1,000 maps take no room
        }
    }).dir.file("gmapsupp.img");
    WrappedFiles counting(WrappedFiles::Flush::None);
    Session counted(counting, path);
    const std::string expected = "GMAPSUPP.IMG  <T " + std::to_string(maps / 4) + "/" + std::to_string(maps) + ">";
    const bool ok = counted.list(1) && counted.ui.texts.front() == expected;
    state.counters.insert({{"bytes", double(image.size)}, {"opens", double(counting.opens)},
                           {"reads", double(counting.reads)}, {"read_bytes", double(counting.bytesRead)}});
    PosixFileLayer posix;
    Session timed(posix, path);
    timePasses(state, ok, [&] { return timed.list(1); });
}

// Registers fn(state, args...) as name for every count, with the least and
// greatest over the repetitions beside the library's median.
template <class Fn, class... Args>
void add(const std::string& name, const char* count, const std::vector<std::int64_t>& counts, Fn fn, Args... args)
{
    auto* b = benchmark::RegisterBenchmark(name.c_str(), fn, args...)->ArgName(count)->UseRealTime();
    b->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::ranges::min_element(v); })
        ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::ranges::max_element(v); });
    b->ArgsProduct({counts});
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);  // for the window
    std::vector<std::int64_t> sizes;
    const char* sizesAsked = std::getenv("KS_BENCH_SIZES");
    std::istringstream sizeList(sizesAsked != nullptr ? sizesAsked : "1000,10000");
    for (std::string size; std::getline(sizeList, size, ',');) {
        sizes.push_back(std::stoi(size));
    }
    for (const TileForm& form : kForms) {
        const std::string tiles = std::string("/") + form.name;
        add("floor" + tiles, "files", sizes, floorBench, &form, O_RDWR, false);
        add("guarded" + tiles, "files", sizes, floorBench, &form, O_RDWR, true);
        add("floor-ro" + tiles, "files", sizes, floorBench, &form, O_RDONLY, false);
        add("safe-floor" + tiles, "files", sizes, safeFloorBench, &form);
        add("write-floor" + tiles, "files", sizes, writeFloorBench, &form);
        add("list" + tiles, "files", sizes, listBench, &form);
        add("list-scripted" + tiles, "files", sizes, listScriptedBench, &form);
        add("batch" + tiles, "files", sizes, batchBench, &form, WrappedFiles::Flush::PerBatch);
        add("no-flush" + tiles, "files", sizes, batchBench, &form, WrappedFiles::Flush::None);
        add("batch-per-file" + tiles, "files", sizes, batchBench, &form, WrappedFiles::Flush::PerFile);
        add("window" + tiles, "files", sizes, windowBench, &form);
    }
    add("container/packed", "maps", {100, 1000}, containerBench, false);
    add("container/spread", "maps", {100, 1000}, containerBench, true);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
