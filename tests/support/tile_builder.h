// Builds IMG containers byte by byte, as small files or as sparse images
// whose maps lie gigabytes apart, for tests, the demo folder, the benchmark
// and the fuzzer.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"

namespace ks::testing {

// A container's size and the ranges that hold its bytes; zeros elsewhere.
struct Image {
    std::uint64_t size = 0;
    std::map<std::uint64_t, Bytes> pieces;

    // Writes the image to path as a sparse file.
    void writeTo(const std::string& path) const;
    // Whether the file at path has this size and these bytes in every piece.
    bool isOnDisk(const std::string& path) const;
};

// One directory entry; the walk reads its type, part number and first block.
struct Entry {
    std::string type;
    std::uint16_t firstBlock = 0;
    std::uint16_t part = 0;
    std::string name = "TESTTILE";
    std::vector<std::uint16_t> moreBlocks = {};  // the block list after firstBlock
    std::uint32_t size = 0;                     // the subfile's size
};

class TileBuilder {
public:
    // A tile with RGN, TRE and LBL entries, 512-byte blocks and the TRE header
    // at block 8 (offset 4096) with the given flag byte, which ends the file.
    static TileBuilder ordinary(std::uint8_t treFlags);
    // A container of maps named MAP00000, ... with the given flag bytes: one
    // TRE entry each, headers in consecutive blocks of 2^exponent bytes after the directory.
    static TileBuilder combined(const std::vector<std::uint8_t>& flags, std::uint8_t exponent = 9);
    // A container of maps named by their numbers 63300000, ... with the given
    // flag bytes, in the given families (one id per map), joined as on a GPS
    // unit's card: an MPS subfile with an L record per map and an F record
    // named prefix + id per family, over as many directory entries as its blocks need.
    static TileBuilder joined(const std::vector<std::uint8_t>& flags, const std::vector<std::uint16_t>& families,
                              std::uint8_t exponent = 9, const std::string& prefix = "FAMILIE ");
    // A file by a short name, for tables of folders: o and t (an ordinary
    // tile, opaque or transparent), m and M (masked, 0x80 and 0x82), mixed
    // (three maps, the middle one transparent), all and none (all three
    // transparent or opaque), notre, nohead, overflow (broken maps), txt, empty;
    // p, p0 and wide (o with draw priority 25, 0 and 0x0119), mp and mp0 (masked
    // p and p0), spread (two maps, priorities 12 and 31, the second transparent);
    // tre, tret, tre0 and trew (TRE files of their own: opaque, transparent,
    // priority 0, priority 0x0119), tre40 (one without priority) and cut (one
    // cut short inside its header); hlen0 (a TRE file with header length 0),
    // short (m with header length 0x20); p8 and p10 (priorities 8 and 10).
    // fam and famt (joined: maps 63300000 and 63300001 of family 7 opaque or
    // transparent, 63300002 and 63300003 of family 9 transparent), famx (one
    // map, its family's name full of controls); card and cardo (mkgmap's
    // two-family container families.img, and the same with its contour maps opaque).
    static Bytes kind(const std::string& name);

    TileBuilder& masked() { masked_ = true; return *this; }  // every byte exclusive-or'd with 0x5B
    TileBuilder& exponents(std::uint8_t e1, std::uint8_t e2) { e1_ = e1; e2_ = e2; return *this; }
    TileBuilder& fatEnd(std::int32_t value) { fatEnd_ = value; return *this; }  // default: just past the last entry
    TileBuilder& entries(std::vector<Entry> list) { entries_ = std::move(list); return *this; }
    // A directory entry far out.
    TileBuilder& entryAt(std::uint64_t at, Entry entry) { farEntries_[at] = std::move(entry); return *this; }
    TileBuilder& treHeaderAt(std::int64_t offset);                   // moves the first header; -1: none at all
    // One more " TRE" header.
    TileBuilder& header(std::uint64_t at, std::uint8_t flags) { headers_.emplace_back(at, flags); return *this; }
    TileBuilder& size(std::uint64_t bytes) { size_ = bytes; return *this; }  // default: just past the last piece
    TileBuilder& signature(const std::string& four) { signature_ = four; return *this; }  // default "DSKI"
    // A header just long enough for this draw priority, for every map; default: one too short for it.
    TileBuilder& priority(std::uint32_t value) { priority_ = value; return *this; }
    // A TRE file of its own: a long header with these flags and draw priority.
    static Bytes treFile(std::uint8_t flags, std::uint32_t priority = 25);

    Image image() const;
    // The whole file, masked gaps included; for files of a few megabytes at most.
    Bytes build() const;

private:
    bool masked_ = false;
    std::uint8_t e1_ = 9;
    std::uint8_t e2_ = 0;
    std::optional<std::int32_t> fatEnd_;
    std::vector<Entry> entries_;
    std::map<std::uint64_t, Entry> farEntries_;
    std::vector<std::pair<std::uint64_t, std::uint8_t>> headers_;  // offset, flag byte
    std::optional<std::uint64_t> size_;
    std::string signature_ = "DSKI";
    std::optional<std::uint32_t> priority_;
    std::map<std::uint64_t, Bytes> data_;  // subfile bytes other than TRE headers
};

// Writes files, "NAME=KIND NAME=KIND,ro ..." (TileBuilder::kind; ",ro" takes
// the write permission away), into folder and adds each with its bytes to
// written; "NAME=@TARGET" makes NAME a symbolic link to TARGET instead.
void putFiles(const TempDir& folder, const std::string& files, std::map<std::string, Bytes>& written);

// The demo folder, as for putFiles: tiles in both states, a masked one, a
// combined container, a map bundle and a long name, none of which asks
// anything when listed; the files that do (no map, read-only, no TRE) wait in
// the subfolder Fehlerbeispiele.
inline constexpr const char* kDemoFiles =
    "63240001.img=o 63240002.img=o 63240003.img=t HOEHEN01.IMG=t HOEHEN02.IMG=o MASKIERT.IMG=M GMAPSUPP.IMG=mixed "
    "Höhenlinien_Schwarzwald_Nord_sehr_langer_Dateiname_2024.img=t Contours.gmap/Info.xml=txt "
    "Contours.gmap/Product1/63240041/63240041.TRE=tre Contours.gmap/Product1/63240042/63240042.TRE=tret "
    "Fehlerbeispiele/LIESMICH.TXT=txt Fehlerbeispiele/OHNE_TRE.IMG=notre Fehlerbeispiele/SCHREIBGESCHUETZT.IMG=o,ro";
// Writes the demo folder into folder (UTF-8), replacing the files it has there.
void putDemoFolder(const std::string& folder);

// The parts of text between separators, leading spaces cut, empty ones left out.
std::vector<std::string> split(const std::string& text, char separator);

}  // namespace ks::testing
