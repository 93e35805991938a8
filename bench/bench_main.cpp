// Measures the listing and batch passes against the I/O floor of the job.
//
// Method: for each folder size a fresh folder of synthetic tiles is written
// (warm page cache, the machine's ordinary file system), every measurement is
// run once to warm up and then `repeats` times; the median wall-clock time is
// reported, per file in microseconds.
//   (a) floor:   enumerate the folder; per file open it, read its first 4 KiB, close it
//   (b) listing: the workflow's listing pass (scripted platform, real file layer)
//   (c) window:  the same listing through the real window, offscreen, list fill included
//   (d) batch:   mark all, make every file transparent (each byte flushed to the medium)
//   (d') batch without the flush, to show what putting the byte on the medium costs
#include <QApplication>
#include <QListWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/posix_files.h"
#include "support/disk.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"
#include "ui/main_window.h"
#include "workflow/workflow.h"

namespace {

using Clock = std::chrono::steady_clock;

double medianSeconds(int repeats, const std::function<void()>& run)
{
    run();  // warm-up
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        run();
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The floor: what any tool must do to look at every file of the folder.
void floorPass(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    char buffer[4096];
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type != DT_REG) {
            continue;
        }
        const int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            if (::read(fd, buffer, sizeof buffer) < 0) {
                std::perror("read");
            }
            ::close(fd);
        }
    }
    ::closedir(dir);
}

// The real file layer, but without putting written bytes on the medium.
class NoFlushFiles final : public ks::platform::FileLayer {
public:
    std::unique_ptr<ks::platform::MapFile> openReadWrite(const std::string& path) override
    {
        class File final : public ks::platform::MapFile {
        public:
            explicit File(std::unique_ptr<ks::platform::MapFile> inner) : inner_(std::move(inner)) {}
            std::uint64_t size() const override { return inner_->size(); }
            std::size_t readAt(std::uint64_t o, std::span<std::uint8_t> out) override { return inner_->readAt(o, out); }
            void writeByteAt(std::uint64_t o, std::uint8_t v) override { inner_->writeByteAt(o, v); }
            void flush() override {}

        private:
            std::unique_ptr<ks::platform::MapFile> inner_;
        };
        return std::make_unique<File>(real_.openReadWrite(path));
    }
    std::vector<std::string> regularFiles(const std::string& folder) override { return real_.regularFiles(folder); }

private:
    ks::platform::PosixFileLayer real_;
};

struct Row {
    int files;
    double floorUs, listUs, windowUs, batchUs, batchNoFlushUs;
    long listKiB;
};

// The tiles measured: "large" keeps the TRE header past the first 4 KiB, as in
// tiles whose RGN data comes first; "compact" keeps it inside, as in small tiles.
ks::testing::Bytes benchTile(bool compact)
{
    using ks::testing::TileBuilder;
    if (!compact) {
        return TileBuilder::ordinary(0x00).build();
    }
    return TileBuilder::ordinary(0x00).entries({{"RGN", 6}, {"TRE", 7}}).treHeaderAt(7 * 512).size(10 * 512).build();
}

Row measure(int files, int repeats, bool compact)
{
    ks::testing::TempDir dir;
    const auto tile = benchTile(compact);
    char name[32];
    for (int i = 0; i < files; ++i) {
        std::snprintf(name, sizeof name, "%08d.img", 63240000 + i);
        ks::testing::writeFile(dir.file(name), tile);
    }
    const std::string first = dir.file("63240000.img");
    Row row{files, 0, 0, 0, 0, 0, 0};
    const double n = files;

    row.floorUs = medianSeconds(repeats, [&] { floorPass(dir.path()); }) / n * 1e6;

    {
        ks::testing::ScriptedPlatform env;
        ks::workflow::Workflow flow(env.platform);
        const long before = residentKiB();
        row.listUs = medianSeconds(repeats, [&] {
            env.ui.choices.emplace_back(first);
            flow.mn_Datei_Click();
        }) / n * 1e6;
        row.listKiB = residentKiB() - before;
        if (env.ui.list.size() != static_cast<std::size_t>(files) || !env.ui.messages.empty()) {
            std::fprintf(stderr, "listing went wrong at %d files\n", files);
        }
        row.batchUs = medianSeconds(repeats, [&] {
            flow.cmd_Mark_Click();
            flow.cmd_Trnsp_Click(1);
        }) / n * 1e6;
    }
    {
        ks::testing::ScriptedUi ui;
        NoFlushFiles noFlush;
        ks::platform::Platform platform{ui, noFlush};
        ks::workflow::Workflow flow(platform);
        ui.choices.emplace_back(first);
        flow.mn_Datei_Click();
        row.batchNoFlushUs = medianSeconds(repeats, [&] {
            flow.cmd_Mark_Click();
            flow.cmd_Trnsp_Click(1);
        }) / n * 1e6;
    }
    {
        ks::platform::PosixFileLayer posix;
        ks::ui::MainWindow window(posix);
        window.qtUi().setMessageHook([](const ks::platform::Message&) { return ks::platform::Answer::Ok; });
        window.qtUi().setChooseFileHook([&] { return std::optional<std::string>(first); });
        window.show();
        QApplication::processEvents();
        row.windowUs = medianSeconds(repeats, [&] {
            window.workflow().mn_Datei_Click();
            QApplication::processEvents();  // the list draws its new entries
        }) / n * 1e6;
        if (window.findChild<QListWidget*>(QStringLiteral("lst"))->count() != files) {
            std::fprintf(stderr, "window listing went wrong at %d files\n", files);
        }
    }
    return row;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<int> sizes = {100, 1000, 10000, 50000};
    bool compact = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            sizes = {100, 1000};
        } else if (arg == "--compact") {
            compact = true;
        } else {
            std::fprintf(stderr, "usage: ks_bench [--quick] [--compact]\n");
            return 2;
        }
    }
    std::printf("tiles: %s (TRE header %s the first 4 KiB)\n", compact ? "compact" : "large",
                compact ? "inside" : "past");
    std::printf("%8s %10s %10s %10s %10s %10s %10s %8s %8s %10s\n", "files", "floor(a)", "list(b)", "window(c)",
                "batch(d)", "d-noflush", "flush", "(b)/(a)", "(c)/(b)", "list KiB");
    std::printf("%8s %10s %10s %10s %10s %10s %10s\n", "", "us/file", "us/file", "us/file", "us/file", "us/file",
                "us/file");
    for (int files : sizes) {
        const Row r = measure(files, files >= 50000 ? 3 : 5, compact);
        std::printf("%8d %10.2f %10.2f %10.2f %10.2f %10.2f %10.2f %8.2f %8.2f %10ld\n", r.files, r.floorUs, r.listUs,
                    r.windowUs, r.batchUs, r.batchNoFlushUs, r.batchUs - r.batchNoFlushUs, r.listUs / r.floorUs,
                    r.windowUs / r.listUs, r.listKiB);
        std::fflush(stdout);
    }
    return 0;
}
