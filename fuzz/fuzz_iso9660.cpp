// Fuzzes the ISO 9660 reader over the sector layer, and the checks of raw
// sectors. Input: a format byte (0 plain sectors, 1 raw Mode 1, 2 raw
// Mode 2 form 1), a damage offset (16-bit, 0: none: the byte of the stored
// track at that offset is flipped), the disc sector of the track's start
// (32-bit, below 450,000), then the track's sectors from sector 16 on, each
// 2048 bytes of user data (the last one filled up with zeros); sectors 0 to
// 15 are zeros. Raw sectors are written with their header, EDC and ECC, so
// that the file system is reached. Every entry found is read, each folder
// of the root listed: a read gives at most what was asked for, and an entry
// is as long as its extents.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "containers.h"
#include "disc.h"
#include "fuzz_support.h"
#include "iso9660.h"
#include "raw_sectors.h"
#include "tracks.h"

namespace {

using namespace cgvw::disc;

std::vector<std::uint8_t> Stored(const SectorFormat& format, std::span<const std::uint8_t> user,
                                 std::uint64_t first) {
  std::vector<std::uint8_t> sectors(16 * 2048, 0);
  sectors.insert(sectors.end(), user.begin(), user.end());
  sectors.resize((sectors.size() + 2047) / 2048 * 2048, 0);
  if (format.mode == 0) {
    return sectors;
  }
  std::vector<std::uint8_t> stored;
  for (std::size_t i = 0; i < sectors.size() / 2048; ++i) {
    std::array<std::uint8_t, kRawBytes> raw{};
    std::fill(raw.begin() + 1, raw.begin() + 11, 0xFF);
    PutHeaderAddress(static_cast<std::int64_t>(first + i), std::span(raw).subspan<12, 3>());
    raw[15] = format.mode;
    std::copy_n(sectors.begin() + static_cast<std::ptrdiff_t>(i * 2048), 2048,
                raw.begin() + format.dataOffset);
    if (format.mode == 1) {
      const std::uint32_t edc = Edc(std::span(raw).first(2064));
      for (int b = 0; b < 4; ++b)
        raw[2064 + b] = static_cast<std::uint8_t>(edc >> (8 * b));
    } else {
      raw[18] = raw[22] = 8;  // submode: data, form 1
      const std::uint32_t edc = Edc(std::span(raw).subspan(16, 2056));
      for (int b = 0; b < 4; ++b)
        raw[2072 + b] = static_cast<std::uint8_t>(edc >> (8 * b));
    }
    WriteEcc(raw);
    stored.insert(stored.end(), raw.begin(), raw.end());
  }
  return stored;
}

void ReadEntries(DiscImage& disc, const std::vector<Entry>& entries,
                 std::vector<std::string> path) {
  std::vector<std::uint8_t> buffer(4096);
  for (std::size_t i = 0; i < std::min<std::size_t>(entries.size(), 32); ++i) {
    const Entry& entry = entries[i];
    std::uint64_t total = 0;
    for (const iso9660::Extent& extent : entry.extents)
      total += extent.bytes;
    FUZZ_CHECK(total == entry.size && !entry.extents.empty());
    path.push_back(entry.name);
    if (const std::optional<Entry> found = disc.Find(path)) {
      std::size_t got = 0;
      ReadFault fault;
      const bool read = disc.Read(*found, entry.size / 3, buffer, &got, &fault);
      FUZZ_CHECK(got <= buffer.size() && (read || !fault.why.empty()));
    }
    path.pop_back();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::Input input(data, size);
  const std::uint8_t choice = input.U8() % 3;
  const std::uint16_t damage = input.U16();
  const std::uint64_t first = input.U32() % 450000;
  const SectorFormat format = choice == 0 ? kPlainSectors : choice == 1 ? kMode1Raw : kMode2Raw;
  std::vector<std::uint8_t> stored = Stored(format, input.Rest(), choice == 0 ? 0 : first);
  if (damage != 0) {
    stored[(16 * format.bytes + damage) % stored.size()] ^= 0x01;
  }
  for (std::size_t at = 0; at + format.bytes <= stored.size(); at += format.bytes) {
    static_cast<void>(CheckSector(format, std::span(stored).subspan(at, format.bytes), first));
  }
  MemoryBytes head(std::vector<std::uint8_t>(stored.begin(),
                                             stored.begin() + std::min(stored.size(), kHeadBytes)),
                   "head");
  static_cast<void>(
      Recognise({head, std::span(stored).first(std::min(stored.size(), kHeadBytes)), "x"}));
  const std::uint64_t bytes = stored.size();
  auto reader = std::make_unique<TrackReader>(
      std::make_unique<ImageTrack>(std::make_unique<MemoryBytes>(std::move(stored), "t.bin"),
                                   ImageTrack::Layout{format, 0, bytes, choice == 0 ? 0 : first}));
  std::string why;
  std::optional<iso9660::FileSystem> files = iso9660::FileSystem::Read(*reader, &why);
  if (!files) {
    FUZZ_CHECK(!why.empty());
    return 0;
  }
  const std::vector<Entry> root = files->root();
  std::vector<std::pair<std::string, std::vector<Entry>>> folders;
  for (std::size_t i = 0; i < std::min<std::size_t>(root.size(), 8); ++i) {
    std::vector<Entry> entries;
    if (root[i].directory && files->List(*reader, root[i], &entries, &why)) {
      folders.emplace_back(root[i].name, std::move(entries));
    }
  }
  DiscImage disc(std::move(reader), std::move(*files), {});
  ReadEntries(disc, root, {});
  for (const auto& [name, entries] : folders) {
    ReadEntries(disc, entries, {name});
  }
  return 0;
}
