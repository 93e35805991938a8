// Measures the listing and batch passes against the floor of the job.
//
// Method (docs/performance.md): for each tile form and folder size a fresh
// folder of copies of a real mkgmap tile is written to the given file system
// and synced; the page cache stays warm. Every measurement runs once to warm
// up and then `repeats` times, the ones compared interleaved in the same
// round so that a disturbance hits both; the median and the spread (min-max)
// of the wall-clock time are reported per file in microseconds.
//   floor      enumerate the folder; per file open it for reading and writing
//              by its name in the folder, read the first 4 KiB, read the TRE
//              header unless that read held it, close it
//   guarded    the floor plus the program's two checks around each open: a
//              stat of the type before it, an fstat of the identity after it
//   floor-ro   the floor opened read-only (for comparison only)
//   list       the workflow's listing pass, real file layer, a lean Ui
//   batch      mark all, switch every file (each run toggles it, so every run
//              writes one byte per file), flush, end message, relisting
//   no-flush   the same batch through a file layer whose finishWrites and
//              flush do nothing
// Listing memory: resident and heap bytes added by the first listing, per file.
// finish, flush: the part of the batch spent in finishWrites and in flush.
// Combined containers: the reads and the time of listing one container.
// --window: the listing through the real window, offscreen, for its time and memory.
// --slow-medium DIR: the batch on a slow medium, flushed per file (the old
// way) against one flush per batch.
#include <malloc.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "support/scripted_platform.h"
#include "support/temp_dir.h"
#include "support/tile_builder.h"
#include "ui/main_window.h"
#include "workflow/workflow.h"

namespace {

using namespace ks::bench;

constexpr int kDefaultRepeats = 7;                // timed runs per measurement
constexpr int kDefaultSlowFiles = 1000;           // tiles in the slow-medium batch
constexpr int kDefaultSlowRepeats = 3;            // timed runs per slow-medium variant
constexpr int kFirstMapName = 63240000;           // tiles are named 63240000.img, 63240001.img, ...
constexpr int kWarmFiles = 10;                    // tiles in the folder listed to warm up
constexpr int kContainerSizes[] = {100, 1000};    // maps in the combined containers listed
constexpr const char* kEndMessage = "Transparenz-Änderung beendet ... (finished)";

// A workflow with its own lean Ui over a file layer.
struct Session {
    explicit Session(ks::platform::FileLayer& files, const std::string& firstFile) : platform{ui, files}, flow(platform)
    {
        ui.choice = firstFile;
    }
    BenchUi ui;
    ks::platform::Platform platform;
    ks::workflow::Workflow flow;
};

// Lists the session's folder; exits when the listing is not all of it, unreported.
void listOrDie(Session& s, std::size_t files, const char* what)
{
    const std::size_t boxes = s.ui.boxes;
    s.flow.mn_Datei_Click();
    if (s.ui.texts.size() != files || s.ui.boxes != boxes) {
        std::fprintf(stderr, "%s: listed %zu of %zu files, %zu boxes (%s)\n", what, s.ui.texts.size(), files,
                     s.ui.boxes - boxes, s.ui.lastPrompt.c_str());
        std::exit(1);
    }
}

// Marks every file and switches it; exits unless the pass ended with only the
// end message and a relisting that shows every file switched.
void batchOrDie(Session& s, bool transparent, const char* what)
{
    const std::size_t boxes = s.ui.boxes;
    s.flow.cmd_Mark_Click();
    s.flow.cmd_Trnsp_Click(transparent ? 1 : 0);
    const char* expected = transparent ? ks::container::kKennungTransparent : ks::container::kKennungOpaque;
    if (s.ui.boxes != boxes + 1 || s.ui.lastPrompt != kEndMessage || !s.ui.allEndWith(expected)) {
        std::fprintf(stderr, "%s: the batch did not switch every file (%zu boxes, last: %s)\n", what,
                     s.ui.boxes - boxes, s.ui.lastPrompt.c_str());
        std::exit(1);
    }
}

// ---------------------------------------------------------------- folders of tiles

// A fresh folder holding `files` copies of tile, synced to the medium.
struct TileFolder {
    TileFolder(const std::string& base, const ks::testing::Bytes& tile, int files) : dir(base)
    {
        char name[32];
        for (int i = 0; i < files; ++i) {
            std::snprintf(name, sizeof name, "%08d.img", kFirstMapName + i);
            ks::testing::writeFile(dir.file(name), tile);
        }
        first = dir.file(std::to_string(kFirstMapName) + ".img");
        ::sync();
    }
    ks::testing::TempDir dir;
    std::string first;  // the file the dialog "chooses"
};

// A form of tile measured: a checked-in mkgmap sample.
struct TileForm {
    std::string name;
    std::string sample;  // file name in tests/data
    std::string note;    // where its TRE header lies
};

// Every tile form the benchmark knows.
const std::vector<TileForm>& tileForms()
{
    static const std::vector<TileForm> forms = {
        {"contour", "contour.img", "6 KiB contour tile, TRE header at 0x1200, past the first 4 KiB: two reads"},
        {"compact", "opaque.img", "5 KiB tile, TRE header at 0xE00, inside the first 4 KiB: one read"},
        {"bigblock", "bigblock.img", "16 KiB tile, 4096-byte blocks, TRE header at 0x2000: two reads"},
    };
    return forms;
}

// What to measure, from the command line.
struct Options {
    std::vector<int> sizes = {1000, 10000};
    std::vector<std::string> forms = {"contour", "compact"};
    std::set<std::string> only;  // empty: everything
    int repeats = kDefaultRepeats;
    std::string base;            // where the folders go; the system's temporary folder when empty
    std::string slowMedium;      // a folder on the slow medium: run that measurement only
    int slowFiles = kDefaultSlowFiles;
    int slowRepeats = kDefaultSlowRepeats;
    bool containers = true;
    bool window = false;         // also list through the real window
};

// Whether the measurement named what runs (--only names some; none: all).
bool wanted(const Options& o, const char* what)
{
    return o.only.empty() || o.only.count(what) != 0;
}

// Prints a median with its spread.
void printStats(const Stats& s)
{
    std::printf(" %7.2f (%5.2f-%5.2f)", s.median, s.min, s.max);
}

// ---------------------------------------------------------------- the measurements

// What the listing of one folder costs against the floor.
struct ListingFigures {
    std::vector<double> floor, guarded, floorReadOnly, list;  // us per file, one per timed run
    double residentPerFile = 0;  // bytes the first listing added, per file
    double heapPerFile = 0;
};

// Times the floors and the listing, interleaved, and takes the memory of the first listing.
ListingFigures measureListing(const Options& o, const TileFolder& folder, int files)
{
    ListingFigures f;
    const auto n = static_cast<double>(files);
    const auto count = static_cast<std::size_t>(files);
    ks::platform::PosixFileLayer posix;
    Session listing(posix, folder.first);
    ::malloc_trim(0);  // what the allocator keeps spare does not count
    const long rssBefore = residentBytes();
    const long heapBefore = heapBytes();
    listOrDie(listing, count, "list");
    ::malloc_trim(0);
    f.residentPerFile = static_cast<double>(residentBytes() - rssBefore) / n;
    f.heapPerFile = static_cast<double>(heapBytes() - heapBefore) / n;

    for (int r = -1; r < o.repeats; ++r) {  // r = -1: the warm-up
        const bool kept = r >= 0;
        if (wanted(o, "floor")) {
            const double plain = timePerItem(n, [&] {
                if (floorPass(folder.dir.path(), O_RDWR) != 0) {
                    std::fprintf(stderr, "floor: a tile is transparent\n");
                }
            });
            const double guarded = timePerItem(n, [&] { floorPass(folder.dir.path(), O_RDWR, Guards::TypeAndId); });
            const double readOnly = timePerItem(n, [&] { floorPass(folder.dir.path(), O_RDONLY); });
            if (kept) {
                f.floor.push_back(plain);
                f.guarded.push_back(guarded);
                f.floorReadOnly.push_back(readOnly);
            }
        }
        if (wanted(o, "list")) {
            const double t = timePerItem(n, [&] { listOrDie(listing, count, "list"); });
            if (kept) {
                f.list.push_back(t);
            }
        }
    }
    return f;
}

// Prints the listing time with the lean Ui against the tests' scripted Ui, to
// show what the scripted Ui's logging would add.
void compareScriptedUi(const Options& o, const TileForm& form, const TileFolder& folder, int files)
{
    const auto n = static_cast<double>(files);
    ks::platform::PosixFileLayer posix;
    Session lean(posix, folder.first);
    ks::testing::Log log;
    ks::testing::ScriptedUi scripted(log);
    ks::platform::Platform platform{scripted, posix};
    ks::workflow::Workflow flow(platform);
    std::vector<double> leanTimes, scriptedTimes;
    for (int r = -1; r < o.repeats; ++r) {
        const double t1 = timePerItem(n, [&] { listOrDie(lean, static_cast<std::size_t>(files), "list"); });
        const double t2 = timePerItem(n, [&] {
            scripted.choices.emplace_back(folder.first);
            flow.mn_Datei_Click();
        });
        if (r >= 0) {
            leanTimes.push_back(t1);
            scriptedTimes.push_back(t2);
        }
    }
    std::printf("%-8s %6d list with the lean Ui %.2f us/file, with the scripted Ui %.2f us/file (%zu entries, "
                "%zu log lines in all)\n",
                form.name.c_str(), files, statsOf(leanTimes).median, statsOf(scriptedTimes).median,
                scripted.list.size(), log.size());
}

// What the batch costs with its flush and without.
struct BatchFigures {
    std::vector<double> batch, noFlush;  // us per file, one per timed run
    std::vector<double> finishing;       // of batch: in MapFile::finishWrites
    std::vector<double> flushing;        // of batch: in FileLayer::flush
};

// Times the batch with its flush and without, interleaved; every run toggles
// every tile, and the disk is synced before each run, outside the time.
BatchFigures measureBatch(const Options& o, const TileFolder& folder, int files)
{
    BatchFigures f;
    const auto n = static_cast<double>(files);
    const auto count = static_cast<std::size_t>(files);
    WrappedFiles flushing(WrappedFiles::Flush::PerBatch);
    WrappedFiles notFlushing(WrappedFiles::Flush::None);
    Session withFlush(flushing, folder.first);
    Session withoutFlush(notFlushing, folder.first);
    listOrDie(withFlush, count, "batch");
    listOrDie(withoutFlush, count, "no-flush");
    bool transparent = true;  // the tiles start opaque
    for (int r = -1; r < o.repeats; ++r) {
        const bool kept = r >= 0;
        if (wanted(o, "batch")) {
            ::sync();
            const double finishBefore = flushing.finishSeconds;
            const double flushBefore = flushing.flushSeconds;
            const double t = timePerItem(n, [&] { batchOrDie(withFlush, transparent, "batch"); });
            transparent = !transparent;
            if (kept) {
                f.batch.push_back(t);
                f.finishing.push_back((flushing.finishSeconds - finishBefore) / n * 1e6);
                f.flushing.push_back((flushing.flushSeconds - flushBefore) / n * 1e6);
            }
        }
        if (wanted(o, "noflush")) {
            ::sync();
            const double t = timePerItem(n, [&] { batchOrDie(withoutFlush, transparent, "no-flush"); });
            transparent = !transparent;
            if (kept) {
                f.noFlush.push_back(t);
            }
        }
    }
    ::sync();
    return f;
}

// Prints the median and spread of v, or a dash when nothing was measured; returns the figures.
Stats showStats(const std::vector<double>& v)
{
    if (v.empty()) {
        std::printf(" %21s", "-");
        return Stats{};
    }
    const Stats s = statsOf(v);
    printStats(s);
    return s;
}

// The ratio of two medians, or 0 when either is missing.
double ratio(const Stats& a, const Stats& b)
{
    return a.median > 0 && b.median > 0 ? a.median / b.median : 0.0;
}

// One row of the folder table: listing against the floors, listing memory,
// and the batch with and without its flush, for one tile form and size.
void measureFolder(const Options& o, const TileForm& form, int files)
{
    const TileFolder folder(o.base, ks::testing::readFile(std::string(KS_SAMPLE_DIR) + "/" + form.sample), files);
    if (o.only.count("scripted") != 0) {
        compareScriptedUi(o, form, folder, files);
    }
    const ListingFigures l = measureListing(o, folder, files);
    BatchFigures b;
    if (wanted(o, "batch") || wanted(o, "noflush")) {
        b = measureBatch(o, folder, files);
    }
    std::printf("%-8s %6d", form.name.c_str(), files);
    const Stats floor = showStats(l.floor);
    const Stats guarded = showStats(l.guarded);
    showStats(l.floorReadOnly);
    const Stats list = showStats(l.list);
    std::printf(" %5.2f %5.2f", ratio(list, floor), ratio(list, guarded));
    const Stats batch = showStats(b.batch);
    const Stats noFlush = showStats(b.noFlush);
    std::printf(" %5.2f %7.0f %7.0f", ratio(batch, noFlush), l.residentPerFile, l.heapPerFile);
    std::printf(" %7.2f %7.2f\n", b.finishing.empty() ? 0.0 : statsOf(b.finishing).median,
                b.flushing.empty() ? 0.0 : statsOf(b.flushing).median);
    std::fflush(stdout);
}

// Listing through the real window, offscreen, list fill and repaint included:
// the time, and the memory its list keeps, per file.
void measureWindow(const Options& o, const TileForm& form, int files)
{
    const TileFolder folder(o.base, ks::testing::readFile(std::string(KS_SAMPLE_DIR) + "/" + form.sample), files);
    const auto n = static_cast<double>(files);
    const TileFolder small(o.base, ks::testing::readFile(std::string(KS_SAMPLE_DIR) + "/" + form.sample), kWarmFiles);
    ks::platform::PosixFileLayer posix;
    ks::ui::MainWindow window(posix);
    std::string chosen = small.first;
    window.qtUi().setMessageHook([](const ks::platform::Message&) { return ks::platform::Answer::Ok; });
    window.qtUi().setChooseFileHook([&] { return std::optional<std::string>(chosen); });
    window.show();
    QApplication::processEvents();
    auto* list = window.findChild<ks::ui::EntryList*>();
    const auto listOnce = [&](int expected) {
        window.workflow().mn_Datei_Click();
        QApplication::processEvents();  // the list draws its new entries
        if (list == nullptr || list->count() != expected) {
            std::fprintf(stderr, "window: the listing went wrong\n");
            std::exit(1);
        }
    };
    // The window's first listing sets up what every later one shares (fonts, caches).
    listOnce(kWarmFiles);
    chosen = folder.first;
    ::malloc_trim(0);
    const long rssBefore = residentBytes();
    const long heapBefore = heapBytes();
    listOnce(files);
    ::malloc_trim(0);
    const double rssPerFile = static_cast<double>(residentBytes() - rssBefore) / (n - kWarmFiles);
    const double heapPerFile = static_cast<double>(heapBytes() - heapBefore) / (n - kWarmFiles);
    std::vector<double> times;
    for (int r = -1; r < o.repeats; ++r) {
        const double t = timePerItem(n, [&] { listOnce(files); });
        if (r >= 0) {
            times.push_back(t);
        }
    }
    std::printf("%-8s %6d", form.name.c_str(), files);
    printStats(statsOf(times));
    std::printf(" %7.0f %7.0f\n", rssPerFile, heapPerFile);
    std::fflush(stdout);
}

// How the maps of a combined container lie.
enum class Layout {
    Packed,  // TileBuilder::combined: one TRE entry per map, the headers back to back after the directory
    Spread,  // as mkgmap writes a gmapsupp: RGN, TRE and LBL entries per map, each map's subfiles in turn
};

constexpr std::uint8_t kSpreadExponent = 12;          // 4 KiB blocks, as large containers use
constexpr std::uint64_t kSpreadMapBytes = 64 * 1024;  // one map's subfiles in a spread container
constexpr std::uint64_t kSpreadTreAt = 48 * 1024;     // its TRE header, after its RGN data

// A combined container of `maps` maps, one in four transparent, laid out as layout says.
ks::testing::TileBuilder containerOf(int maps, Layout layout)
{
    std::vector<std::uint8_t> flags;
    for (int k = 0; k < maps; ++k) {
        flags.push_back(k % 4 == 1 ? 0x02 : 0x00);
    }
    if (layout == Layout::Packed) {
        return ks::testing::TileBuilder::combined(flags);
    }
    auto builder = ks::testing::TileBuilder::combined({}, kSpreadExponent);
    constexpr std::uint64_t kBlock = std::uint64_t{1} << kSpreadExponent;
    const std::uint64_t directoryEnd = kFirstEntry + 3 * static_cast<std::uint64_t>(maps) * kEntrySize;
    const std::uint64_t dataStart = (directoryEnd + kBlock - 1) / kBlock * kBlock;
    std::vector<ks::testing::Entry> entries;
    for (int k = 0; k < maps; ++k) {
        const std::uint64_t map = dataStart + static_cast<std::uint64_t>(k) * kSpreadMapBytes;
        const auto block = [&](std::uint64_t offset) { return static_cast<std::uint16_t>(offset / kBlock); };
        char name[16];
        std::snprintf(name, sizeof name, "%08d", kFirstMapName + k);
        entries.push_back({"RGN", block(map), 0, name});
        entries.push_back({"TRE", block(map + kSpreadTreAt), 0, name});
        entries.push_back({"LBL", block(map + kSpreadTreAt + kBlock), 0, name});
        builder.header(map + kSpreadTreAt, flags[static_cast<std::size_t>(k)]);
    }
    builder.entries(entries);
    builder.size(dataStart + static_cast<std::uint64_t>(maps) * kSpreadMapBytes);
    return builder;
}

// Listing a folder that holds one combined container of `maps` maps: the
// opens, reads and bytes it costs, and its time.
void measureContainer(const Options& o, int maps, Layout layout)
{
    const ks::testing::TempDir dir(o.base);
    const std::string path = dir.file("gmapsupp.img");
    const auto builder = containerOf(maps, layout);
    const ks::testing::Image image = builder.image();
    if (layout == Layout::Packed) {
        ks::testing::writeFile(path, builder.build());  // in one write, as a copy of a container is made
    } else {
        image.writeTo(path);  // sparse: the 64 MiB of a 1,000-map container take no room
    }
    ::sync();

    WrappedFiles counting(WrappedFiles::Flush::None);
    Session counted(counting, path);
    listOrDie(counted, 1, "container");
    const std::string expected = "GMAPSUPP.IMG  <T " + std::to_string(maps / 4) + "/" + std::to_string(maps) + ">";
    if (counted.ui.texts.front() != expected) {
        std::fprintf(stderr, "container: listed as %s\n", counted.ui.texts.front().c_str());
        std::exit(1);
    }

    ks::platform::PosixFileLayer posix;
    Session timed(posix, path);
    std::vector<double> times;
    for (int r = -1; r < o.repeats; ++r) {
        const double t = timePerItem(1, [&] { listOrDie(timed, 1, "container"); });
        if (r >= 0) {
            times.push_back(t);
        }
    }
    const Stats s = statsOf(times);
    std::printf("%-7s %6d %10llu %6ld %6ld %10ld %9.1f (%.1f-%.1f) %7.3f\n",
                layout == Layout::Packed ? "packed" : "spread", maps, static_cast<unsigned long long>(image.size),
                counting.opens, counting.reads, counting.bytesRead, s.median, s.min, s.max, s.median / maps);
    std::fflush(stdout);
}

// The batch on a slow medium: flushed per file (the old way), flushed per
// batch (the program), and not flushed at all, interleaved.
void measureSlowMedium(const Options& o)
{
    const TileForm& form = tileForms().front();
    const TileFolder folder(o.slowMedium, ks::testing::readFile(std::string(KS_SAMPLE_DIR) + "/" + form.sample), o.slowFiles);
    const auto n = static_cast<double>(o.slowFiles);
    const auto count = static_cast<std::size_t>(o.slowFiles);
    WrappedFiles perFile(WrappedFiles::Flush::PerFile);
    WrappedFiles perBatch(WrappedFiles::Flush::PerBatch);
    WrappedFiles none(WrappedFiles::Flush::None);
    Session old(perFile, folder.first);
    Session now(perBatch, folder.first);
    Session bare(none, folder.first);
    listOrDie(old, count, "per-file");
    listOrDie(now, count, "per-batch");
    listOrDie(bare, count, "no-flush");
    std::printf("slow medium: %s, %d %s tiles, %d runs each, load %s\n", o.slowMedium.c_str(), o.slowFiles,
                form.name.c_str(), o.slowRepeats, loadAverage().c_str());
    std::vector<double> oldTimes, nowTimes, bareTimes;
    bool transparent = true;
    for (int r = 0; r < o.slowRepeats; ++r) {
        for (auto [session, times, what] : {std::tuple{&old, &oldTimes, "per-file"},
                                            std::tuple{&now, &nowTimes, "per-batch"},
                                            std::tuple{&bare, &bareTimes, "no-flush"}}) {
            ::sync();
            times->push_back(timePerItem(n, [&] { batchOrDie(*session, transparent, what); }) / 1000.0);
            transparent = !transparent;
            std::printf("  run %d %-9s %8.3f ms/file\n", r + 1, what, times->back());
            std::fflush(stdout);
        }
    }
    ::sync();
    std::printf("%d-file batch          ms/file median (min-max), whole batch s\n", o.slowFiles);
    for (auto [name, times] : {std::pair{"flush per file", &oldTimes}, std::pair{"flush per batch", &nowTimes},
                               std::pair{"no flush", &bareTimes}}) {
        const Stats s = statsOf(*times);
        std::printf("%-22s %8.3f (%.3f-%.3f) %8.2f s\n", name, s.median, s.min, s.max, s.median * n / 1000.0);
    }
    std::printf("flush per file / flush per batch: %.1f\n", ratio(statsOf(oldTimes), statsOf(nowTimes)));
    std::printf("load after: %s\n", loadAverage().c_str());
}

// The tile form of that name; exits when there is none.
const TileForm& formNamed(const std::string& name)
{
    const auto form =
        std::find_if(tileForms().begin(), tileForms().end(), [&](const TileForm& f) { return f.name == name; });
    if (form == tileForms().end()) {
        std::fprintf(stderr, "no tile form %s (contour, compact, bigblock)\n", name.c_str());
        std::exit(2);
    }
    return *form;
}

// The folder table: every tile form at every size.
void runFolders(const Options& o)
{
    for (const std::string& name : o.forms) {
        std::printf("%-8s %s\n", name.c_str(), formNamed(name).note.c_str());
    }
    std::printf("%-8s %6s %21s %21s %21s %21s %5s %5s %21s %21s %5s %7s %7s %7s %7s\n", "tiles", "files",
                "floor us/file", "guarded us/file", "floor-ro us/file", "list us/file", "l/f", "l/g", "batch us/file",
                "no-flush us/file", "b/nf", "RSS B/f", "heap B/f", "finish", "flush");
    for (const std::string& name : o.forms) {
        for (const int files : o.sizes) {
            measureFolder(o, formNamed(name), files);
        }
    }
    std::printf("load after: %s\n", loadAverage().c_str());
}

// The window table: every tile form at every size.
void runWindow(const Options& o)
{
    std::printf("\nlisting through the real window (offscreen)\n%-8s %6s %21s %7s %7s\n", "tiles", "files",
                "window us/file", "RSS B/f", "heap B/f");
    for (const std::string& name : o.forms) {
        for (const int files : o.sizes) {
            measureWindow(o, formNamed(name), files);
        }
    }
}

// The combined-container table: 100 and 1,000 maps, packed and spread.
void runContainers(const Options& o)
{
    std::printf("\nlisting one combined container (one map in four transparent)\n");
    std::printf("%-7s %6s %10s %6s %6s %10s %21s %7s\n", "layout", "maps", "bytes", "opens", "reads", "read B",
                "list us", "us/map");
    for (const Layout layout : {Layout::Packed, Layout::Spread}) {
        for (const int maps : kContainerSizes) {
            measureContainer(o, maps, layout);
        }
    }
}

// Parses a comma-separated list of positive counts.
std::vector<int> parseSizes(const std::string& text)
{
    std::vector<int> sizes;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const int value = std::atoi(text.substr(start, comma - start).c_str());
        if (value <= 0) {
            std::fprintf(stderr, "bad size list: %s\n", text.c_str());
            std::exit(2);
        }
        sizes.push_back(value);
        start = comma + 1;
    }
    return sizes;
}

// Splits a comma-separated list of names.
std::vector<std::string> parseNames(const std::string& text)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        names.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr,
                 "usage: ks_bench [--sizes N,N...] [--tiles contour,compact,bigblock] [--repeats N]\n"
                 "                [--only floor,list,batch,noflush,scripted,containers] [--no-containers] [--window]\n"
                 "                [--folder DIR]\n"
                 "       ks_bench --slow-medium DIR [--files N] [--repeats N]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    bool repeatsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
            }
            return argv[++i];
        };
        if (arg == "--sizes") {
            o.sizes = parseSizes(value());
        } else if (arg == "--tiles") {
            o.forms = parseNames(value());
        } else if (arg == "--repeats") {
            o.repeats = parseSizes(value()).front();
            repeatsGiven = true;
        } else if (arg == "--only") {
            const auto names = parseNames(value());
            o.only.insert(names.begin(), names.end());
            o.containers = o.only.count("containers") != 0;
        } else if (arg == "--window") {
            o.window = true;
        } else if (arg == "--no-containers") {
            o.containers = false;
        } else if (arg == "--folder") {
            o.base = value();
        } else if (arg == "--slow-medium") {
            o.slowMedium = value();
        } else if (arg == "--files") {
            o.slowFiles = parseSizes(value()).front();
        } else {
            usage();
        }
    }
    for (const std::string& name : o.forms) {
        formNamed(name);  // a wrong name stops it before anything runs
    }
    std::unique_ptr<QApplication> application;  // only for the window
    if (o.window) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QApplication>(argc, argv);
    }
    // Code pages and the allocator's first arenas are in place before anything is measured.
    {
        const TileFolder warm(o.base, ks::testing::readFile(std::string(KS_SAMPLE_DIR) + "/opaque.img"), kWarmFiles);
        ks::platform::PosixFileLayer posix;
        Session s(posix, warm.first);
        listOrDie(s, kWarmFiles, "warm-up");
    }

    if (!o.slowMedium.empty()) {
        if (repeatsGiven) {
            o.slowRepeats = o.repeats;
        }
        measureSlowMedium(o);
        return 0;
    }

    std::printf("cores %ld, load %s, %d timed runs after one warm-up; median (min-max)\n",
                sysconf(_SC_NPROCESSORS_ONLN), loadAverage().c_str(), o.repeats);
    if (o.only.empty() || o.only.size() > (o.containers ? 1U : 0U)) {
        runFolders(o);
    }
    if (o.window) {
        runWindow(o);
    }
    if (o.containers) {
        runContainers(o);
    }
    return 0;
}
