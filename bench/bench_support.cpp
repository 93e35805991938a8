#include "bench_support.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace ks::bench {

namespace {

constexpr std::size_t kDirectoryRead = 4096;    // the floor's first read: the directory
constexpr std::size_t kTreHeaderSpan = 0x40;    // TRE header bytes up to the flag byte
constexpr int kLargestExponent = 30;            // the largest block-size exponent the job accepts
constexpr std::uint8_t kTransparentBit = 0x02;  // in the TRE flag byte

// The offset of the first TRE header named in the directory bytes of a plain
// (unmasked) container, or nothing.
std::optional<std::uint64_t> firstTreHeader(const std::uint8_t* bytes, std::size_t got)
{
    if (got < kFirstEntry) {
        return std::nullopt;
    }
    const int exponent = bytes[0x61] + bytes[0x62];
    if (exponent > kLargestExponent) {
        return std::nullopt;
    }
    for (std::size_t entry = kFirstEntry; entry + kEntrySize <= got; entry += kEntrySize) {
        if (std::memcmp(bytes + entry + 9, "TRE", 3) == 0 && bytes[entry + 0x10] == 0 && bytes[entry + 0x11] == 0) {
            const auto block = static_cast<std::uint64_t>(bytes[entry + 0x20] | bytes[entry + 0x21] << 8);
            return block << exponent;
        }
    }
    return std::nullopt;
}

}  // namespace

Stats statsOf(std::vector<double> microseconds)
{
    std::sort(microseconds.begin(), microseconds.end());
    const std::size_t n = microseconds.size();
    const double median = n % 2 == 1 ? microseconds[n / 2] : (microseconds[n / 2 - 1] + microseconds[n / 2]) / 2;
    return {median, microseconds.front(), microseconds.back()};
}

// Runs job once and returns its wall-clock time in microseconds per item.
double timePerItem(double items, const std::function<void()>& job)
{
    const auto start = Clock::now();
    job();
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / items;
}

// Resident memory of the process in bytes.
long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// Heap bytes in use (small blocks and mapped blocks).
long heapBytes()
{
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long>(info.uordblks + info.hblkhd);
}

// The machine's load averages, as /proc/loadavg gives them.
std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::size_t floorPass(const std::string& folder, int openFlags, Guards guards)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        std::perror(folder.c_str());
        std::exit(1);
    }
    std::size_t transparent = 0;
    std::uint8_t directory[kDirectoryRead];
    std::uint8_t header[kTreHeaderSpan];
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_type != DT_REG) {
            continue;
        }
        struct stat before {};
        if (guards == Guards::TypeAndId &&
            (::fstatat(::dirfd(dir.get()), entry->d_name, &before, 0) != 0 || !S_ISREG(before.st_mode))) {
            continue;
        }
        const Fd fd(::openat(::dirfd(dir.get()), entry->d_name, openFlags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (fd.get() < 0) {
            continue;
        }
        struct stat opened {};
        if (guards == Guards::TypeAndId &&
            (::fstat(fd.get(), &opened) != 0 || opened.st_ino != before.st_ino || opened.st_dev != before.st_dev)) {
            continue;
        }
        const ssize_t got = ::pread(fd.get(), directory, sizeof directory, 0);
        const auto tre = firstTreHeader(directory, got < 0 ? 0 : static_cast<std::size_t>(got));
        if (!tre) {
            continue;
        }
        std::uint8_t flags = 0;
        if (*tre + kTreHeaderSpan <= static_cast<std::uint64_t>(got)) {
            flags = directory[*tre + kTreHeaderSpan - 1];
        } else if (::pread(fd.get(), header, sizeof header, static_cast<off_t>(*tre)) ==
                   static_cast<ssize_t>(sizeof header)) {
            flags = header[kTreHeaderSpan - 1];
        }
        transparent += (flags & kTransparentBit) != 0 ? 1 : 0;
    }
    return transparent;
}

}  // namespace ks::bench
