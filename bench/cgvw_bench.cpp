// Micro-benchmarks of the decoding layer: the tile-map renderer for every map
// layout and selector mix, palette conversion, 15-bit to 24-bit conversion,
// whole decodes of a catalogue background and portrait, and whole decodes of
// synthetic pictures at growing sizes.
//
// Every benchmark reports the bytes it produces per second. For each output
// size the same run also measures memcpy over that many bytes, and after the
// run a summary prints every benchmark's rate next to memcpy's, their ratio,
// the target where there is one, and the decode cost per pixel by size.
// Rates are medians when the run has repetitions (--benchmark_repetitions).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "catalog/catalogue.h"
#include "cgvw/bytes.h"
#include "cgvw/cgvw.h"
#include "cgvw/colour.h"
#include "cgvw/decode.h"
#include "cgvw/decode_c.h"
#include "cgvw/layout.h"
#include "demo_disc/demo_disc.h"
#include "platform/win_api.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// What the summary needs to know about each benchmark.

enum class Group { kRender, kPalette, kFifteenBit, kCatalogue, kScaling, kMemcpy };

struct CaseInfo {
  std::string name;
  Group group = Group::kRender;
  std::uint64_t outBytes = 0;  // bytes produced by one call
  std::uint64_t pixels = 0;    // pixels (or palette entries) produced by one call
  double memcpyTarget = 0;     // minimum ratio to memcpy; 0 for none
  double pixelTarget = 0;      // minimum pixels per second; 0 for none
  std::string scalingKind;     // for Group::kScaling: the kind of picture
  unsigned side = 0;           // for Group::kScaling: the picture's width and height
};

std::vector<CaseInfo>& Cases() {
  static std::vector<CaseInfo> cases;
  return cases;
}

std::string MemcpyName(std::uint64_t bytes) {
  return "Memcpy/" + std::to_string(bytes);
}

// Deterministic pseudo-random numbers (xorshift), so every run draws the
// same maps.
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed == 0 ? 1 : seed) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

 private:
  std::uint32_t state_;
};

std::vector<std::uint8_t> RandomBytes(std::size_t count, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(count);
  Random random(seed);
  for (auto& b : bytes) {
    b = static_cast<std::uint8_t>(random.Next() >> 24);
  }
  return bytes;
}

// ---------------------------------------------------------------------------
// memcpy over the same number of bytes: the reference for every rate.

void RunMemcpy(benchmark::State& state, std::uint64_t bytes) {
  std::vector<std::uint8_t> source = RandomBytes(bytes, 7);
  std::vector<std::uint8_t> dest(bytes, 0);
  for (auto _ : state) {
    std::memcpy(dest.data(), source.data(), bytes);
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The access pattern of a tile map that visits its tiles in no order, without
// the map: 64-byte blocks gathered from random places of a source as large
// as the destination, written one after the other. Each block is a fetch
// from memory that no hardware prefetcher predicts, so this is the
// reference for what a renderer can reach on such a map.
void RunGather(benchmark::State& state, std::uint64_t bytes) {
  const std::vector<std::uint8_t> source = RandomBytes(bytes, 7);
  std::vector<std::uint8_t> dest(bytes, 0);
  const std::size_t blocks = bytes / 64;
  std::vector<std::uint32_t> order(blocks);
  Random random(5);
  for (auto& block : order) {
    block = static_cast<std::uint32_t>(random.Next() % blocks);
  }
  for (auto _ : state) {
    for (std::size_t k = 0; k < blocks; ++k) {
      std::memcpy(dest.data() + k * 64, source.data() + std::size_t{order[k]} * 64, 64);
    }
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * bytes));  // 8-bit pixels
}

// ---------------------------------------------------------------------------
// The tile-map renderer.

enum class MapOrder { kSequential, kShuffled };
enum class Selectors { kAsStored, kMirrored, kFlipped, kMixed };

struct RenderSetup {
  TCGVwImage image{};
  std::vector<std::uint8_t> map;
  std::vector<std::uint8_t> tiles;
  std::vector<std::uint8_t> dest;
};

// Layouts 0x200 and 0x400: one entry per 8 x 8 tile. Every cell has a tile of
// its own as far as the entry width allows (32767 tiles for 16-bit entries),
// in reading order or shuffled.
RenderSetup MakeTileMapSetup(std::uint32_t layout, unsigned width, unsigned height,
                             MapOrder order) {
  RenderSetup s;
  s.image.Flags = cgvw_flags::kKindTiled | cgvw_flags::kDepth8Bit256 | layout;
  s.image.Width = static_cast<std::uint16_t>(width);
  s.image.Height = static_cast<std::uint16_t>(height);
  const std::size_t cells = std::size_t{width / 8} * (height / 8);
  const std::size_t entryBytes = layout == cgvw_flags::kMap16 ? 2 : 4;
  const std::size_t tileCount =
      std::min<std::size_t>(cells, layout == cgvw_flags::kMap16 ? 32767 : cells);
  s.tiles = RandomBytes(tileCount * 64, 11);
  s.map.resize(cells * entryBytes);
  Random random(5);
  for (std::size_t c = 0; c < cells; ++c) {
    const std::uint32_t tile = static_cast<std::uint32_t>(
        order == MapOrder::kSequential ? c % tileCount : random.Next() % tileCount);
    const std::uint32_t entry = tile << 1 | (random.Next() & 1);  // bit 0 is ignored
    if (entryBytes == 2) {
      cgvw::StoreBE16(s.map.data() + c * 2, static_cast<std::uint16_t>(entry));
    } else {
      cgvw::StoreBE32(s.map.data() + c * 4, entry);
    }
  }
  s.dest.assign(std::size_t{height} * cgvw::RowStride8(s.image.Width), 0);
  return s;
}

// Layout 0xC00: 16 x 16 cells, map rows 64 bytes apart, cell numbers drawn
// at random from the 512 that an entry can name.
RenderSetup MakeCellMapSetup(unsigned width, unsigned height, Selectors selectors) {
  RenderSetup s;
  s.image.Flags = cgvw_flags::kKindTiled | cgvw_flags::kDepth8Bit256 | cgvw_flags::kMapCells;
  s.image.Width = static_cast<std::uint16_t>(width);
  s.image.Height = static_cast<std::uint16_t>(height);
  const std::size_t columns = width / 16;
  const std::size_t rows = height / 16;
  s.tiles = RandomBytes(512 * 4 * 64, 13);
  s.map.assign(rows == 0 ? 0 : (rows - 1) * 64 + columns * 2, 0);
  Random random(9);
  static constexpr unsigned kMix[3] = {0, 1, 3};
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t j = 0; j < columns; ++j) {
      unsigned selector = 0;
      switch (selectors) {
        case Selectors::kAsStored:
          selector = 0;
          break;
        case Selectors::kMirrored:
          selector = 1;
          break;
        case Selectors::kFlipped:
          selector = 3;
          break;
        case Selectors::kMixed:
          selector = kMix[random.Next() % 3];
          break;
      }
      const unsigned cell = random.Next() % 512;
      const auto entry = static_cast<std::uint16_t>(selector << 10 | cell << 1);
      cgvw::StoreBE16(s.map.data() + i * 64 + j * 2, entry);
    }
  }
  s.dest.assign(std::size_t{height} * cgvw::RowStride8(s.image.Width), 0);
  return s;
}

void RunRender(benchmark::State& state, const std::function<RenderSetup()>& make) {
  RenderSetup s = make();
  for (auto _ : state) {
    CGVwRenderTiles(s.dest, s.map, s.tiles, &s.image);
    benchmark::DoNotOptimize(s.dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.dest.size()));
  state.SetItemsProcessed(
      static_cast<std::int64_t>(state.iterations() * s.image.Width * s.image.Height));
}

// ---------------------------------------------------------------------------
// Colour words: the palette service (in-memory mode) and the 15-bit to
// 24-bit conversion of plain pictures.

void RunPalette(benchmark::State& state, std::size_t count) {
  const std::vector<std::uint8_t> words = RandomBytes(count * 2, 17);
  std::vector<std::uint8_t> quads(count * 4, 0);
  TArgs_CGVwGetPalette00 args;
  args.Dest = quads.data();
  args.Source = words.data();
  args.Mode = 1;
  TCGVwPalInfo info;
  info.Count = static_cast<std::int32_t>(count);
  info.NoSwap = 0;
  std::int32_t result = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CGVwGetPalette(&args, &info, &result));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * quads.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

// The rows of a plain 15-bit picture, as the plain decoder converts them:
// source rows top first, DIB rows bottom-up with their padding.
void RunFifteenBit(benchmark::State& state, unsigned width, unsigned height, bool noSwap) {
  const std::vector<std::uint8_t> words = RandomBytes(std::size_t{width} * height * 2, 19);
  const std::size_t stride = 3 * std::size_t{cgvw::PaddedWidth(static_cast<std::uint16_t>(width))};
  std::vector<std::uint8_t> rows(stride * height, 0);
  for (auto _ : state) {
    for (unsigned r = 0; r < height; ++r) {
      cgvw::ColourWordsToBgr(words.data() + std::size_t{r} * width * 2, width, noSwap,
                             rows.data() + (height - 1 - r) * stride);
    }
    benchmark::DoNotOptimize(rows.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rows.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * width * height));
}

// ---------------------------------------------------------------------------
// Whole decodes through CGVwDecode, reading their source files from a drive
// in a temporary directory.

class BenchDrive {
 public:
  BenchDrive() {
    root_ = fs::temp_directory_path() / ("tvrcgcv-bench-" + std::to_string(::getpid()));
    fs::create_directories(root_ / "q");
    ::setenv("TVRCGCV_DRIVE_ROOT", root_.c_str(), 1);
    SourceRoot[0] = 'q';
  }
  ~BenchDrive() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  BenchDrive(const BenchDrive&) = delete;
  BenchDrive& operator=(const BenchDrive&) = delete;

  // Writes a file of the drive once; later calls with the same name do nothing.
  void Provide(const std::string& name, const std::function<std::vector<std::uint8_t>()>& make) {
    if (!written_.insert(name).second) {
      return;
    }
    const std::vector<std::uint8_t> bytes = make();
    std::ofstream out(root_ / "q" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", (root_ / "q" / name).c_str());
      std::exit(1);
    }
  }

 private:
  fs::path root_;
  std::set<std::string> written_;
};

BenchDrive& Drive() {
  static BenchDrive drive;
  return drive;
}

// The source files of catalogue row `row`, from the demo disc.
void ProvideCatalogueRow(int row) {
  for (const demo::DiscFile& file : demo::EncodeRow(row, false)) {
    Drive().Provide(file.name, [&file] { return file.bytes; });
  }
}

// Where a decode's blocks and buffers come from. Warm: memory that an
// earlier decode gave back is used again, as for every picture of a
// catalogue run after the first. Cold: before every decode the process
// gives all the memory it does not use back to the system, so every block
// and buffer pays a page fault per 4 KB page when it is first written, as a
// single picture in a fresh process does. The counter "faults" shows the
// page faults per decode.
enum class Memory { kAsIs, kWarm, kCold };

void SetMemory(Memory memory) {
#if defined(__GLIBC__)
  switch (memory) {
    case Memory::kWarm:
      mallopt(M_MMAP_MAX, 0);  // everything from the heap, which never shrinks
      mallopt(M_TRIM_THRESHOLD, 1 << 30);
      break;
    case Memory::kCold:
      mallopt(M_MMAP_MAX, 1 << 16);  // glibc's default
      mallopt(M_MMAP_THRESHOLD, 16 << 10);
      mallopt(M_TRIM_THRESHOLD, 16 << 10);
      break;
    case Memory::kAsIs:
      break;
  }
#else
  (void)memory;
#endif
}

// Gives the pages of all free memory back to the system (cold decodes).
void ReleaseFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

// Decodes `image` once per iteration and frees the block, as a conversion
// run does for every picture.
void RunDecode(benchmark::State& state, const TCGVwImage* image, Memory memory = Memory::kAsIs) {
  SetMemory(memory);
  std::uint64_t blockBytes = 0;
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  for (auto _ : state) {
    if (memory == Memory::kCold) {
      state.PauseTiming();
      ReleaseFreeMemory();
      state.ResumeTiming();
    }
    std::uint32_t backdrop = 0;
    platform::HGLOBAL handle = nullptr;
    const std::int32_t status = CGVwDecode(&image, &backdrop, &handle);
    if (status != kCGVwOk || handle == nullptr) {
      state.SkipWithError("decode failed");
      break;
    }
    blockBytes = platform::GlobalSize(handle);
    platform::GlobalFree(handle);
  }
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  state.counters["faults"] = benchmark::Counter(
      static_cast<double>(after.ru_minflt - before.ru_minflt), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blockBytes));
  state.SetItemsProcessed(
      static_cast<std::int64_t>(state.iterations() * image->Width * image->Height));
}

// Decodes `image` once per iteration through the typed API, from the
// source files of its catalogue row in memory (the descriptor's check
// included), and frees the picture.
void RunTypedDecode(benchmark::State& state, int row, const TCGVwImage* image) {
  SetMemory(Memory::kWarm);
  const std::vector<demo::DiscFile> files = demo::EncodeRow(row, false);
  cgvw::MemorySource source;
  for (const demo::DiscFile& file : files) {
    source.Add(file.name, file.bytes);
  }
  std::uint64_t pictureBytes = 0;
  for (auto _ : state) {
    const cgvw::Result<cgvw::Picture> picture = cgvw::Decode(*image, source);
    if (!picture) {
      state.SkipWithError("decode failed");
      break;
    }
    pictureBytes = picture->dib().size();
    benchmark::DoNotOptimize(picture->dib().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pictureBytes));
  state.SetItemsProcessed(
      static_cast<std::int64_t>(state.iterations() * image->Width * image->Height));
}

// The same through the C API, into an RGBA buffer of the caller's (the
// descriptor's check, the decode and the conversion to RGBA included).
void RunCDecode(benchmark::State& state, int row, const TCGVwImage* image) {
  SetMemory(Memory::kWarm);
  const std::vector<demo::DiscFile> files = demo::EncodeRow(row, false);
  cgvw_source* source = nullptr;
  cgvw_decoder* decoder = nullptr;
  cgvw_source_new_memory(&source);
  cgvw_decoder_new(&decoder);
  for (const demo::DiscFile& file : files) {
    cgvw_source_add(source, file.name.c_str(), file.bytes.data(), file.bytes.size(), CGVW_BORROW);
  }
  std::vector<std::uint8_t> rgba(std::size_t{image->Width} * image->Height * 4);
  cgvw_output out{};
  out.format = CGVW_FORMAT_RGBA8;
  out.pixels = rgba.data();
  out.size = rgba.size();
  for (auto _ : state) {
    if (cgvw_decode(decoder, source, image, &out) != CGVW_OK) {
      state.SkipWithError(cgvw_problem(decoder));
      break;
    }
    benchmark::DoNotOptimize(rgba.data());
  }
  cgvw_decoder_free(decoder);
  cgvw_source_free(source);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rgba.size()));
  state.SetItemsProcessed(
      static_cast<std::int64_t>(state.iterations() * image->Width * image->Height));
}

// Synthetic pictures for the scaling table, one file each. The descriptors
// and chunk records must outlive the run, so they live in stable storage.
struct SyntheticPicture {
  std::string fileName;
  TCGVwChunk mapChunk{};
  TCGVwImage image{};
};

std::vector<std::unique_ptr<SyntheticPicture>>& Synthetic() {
  static std::vector<std::unique_ptr<SyntheticPicture>> pictures;
  return pictures;
}

// A 256-colour tiled picture with a 16-bit map in reading order: palette at
// 0, tiles at 512, map after the tiles, all in one file.
const TCGVwImage* TiledPicture(unsigned side) {
  auto p = std::make_unique<SyntheticPicture>();
  p->fileName = "tiled" + std::to_string(side) + ".bg";
  const std::size_t cells = std::size_t{side / 8} * (side / 8);
  const std::size_t tileCount = std::min<std::size_t>(cells, 32767);
  const std::uint32_t tileBytes = static_cast<std::uint32_t>(tileCount * 64);
  const std::uint32_t mapBytes = static_cast<std::uint32_t>(cells * 2);
  p->image.Flags = cgvw_flags::kKindTiled | cgvw_flags::kDepth8Bit256 | cgvw_flags::kMap16;
  p->image.Width = static_cast<std::uint16_t>(side);
  p->image.Height = static_cast<std::uint16_t>(side);
  p->image.PalFile = p->fileName.c_str();
  p->image.PalOffset = 0;
  p->image.PixFile = p->fileName.c_str();
  p->image.PixOffset = 512;
  p->image.PixSize = tileBytes;
  p->mapChunk = {p->fileName.c_str(), 512 + tileBytes, mapBytes};
  p->image.Extra = &p->mapChunk;
  Synthetic().push_back(std::move(p));
  return &Synthetic().back()->image;
}

void ProvideTiled(const TCGVwImage& image) {
  Drive().Provide(image.PixFile, [&image] {
    std::vector<std::uint8_t> bytes = RandomBytes(512 + image.PixSize, 23);
    const auto* chunk = static_cast<const TCGVwChunk*>(image.Extra);
    const std::size_t cells = chunk->Size / 2;
    const std::size_t tileCount = image.PixSize / 64;
    bytes.resize(bytes.size() + chunk->Size);
    for (std::size_t c = 0; c < cells; ++c) {
      cgvw::StoreBE16(bytes.data() + chunk->Offset + c * 2,
                      static_cast<std::uint16_t>((c % tileCount) << 1));
    }
    return bytes;
  });
}

// A plain picture of `depth` (8-bit with 256 colours, or 15-bit): palette at
// 0 (8-bit only), pixels at 512.
const TCGVwImage* PlainPicture(unsigned side, std::uint32_t depth) {
  auto p = std::make_unique<SyntheticPicture>();
  const bool fifteen = depth == cgvw_flags::kDepth15Bit;
  p->fileName = (fifteen ? "plain15_" : "plain8_") + std::to_string(side) + ".bin";
  p->image.Flags = cgvw_flags::kKindPlain | depth;
  p->image.Width = static_cast<std::uint16_t>(side);
  p->image.Height = static_cast<std::uint16_t>(side);
  p->image.PalFile = p->fileName.c_str();
  p->image.PixFile = p->fileName.c_str();
  p->image.PixOffset = 512;
  p->image.PixSize = static_cast<std::uint32_t>(std::size_t{side} * side * (fifteen ? 2 : 1));
  Synthetic().push_back(std::move(p));
  return &Synthetic().back()->image;
}

void ProvidePlain(const TCGVwImage& image) {
  Drive().Provide(image.PixFile, [&image] { return RandomBytes(512 + image.PixSize, 29); });
}

// ---------------------------------------------------------------------------
// Registration.

void Register(const CaseInfo& info, const std::function<void(benchmark::State&)>& run) {
  Cases().push_back(info);
  benchmark::RegisterBenchmark(info.name.c_str(), [run](benchmark::State& state) { run(state); });
}

struct Size {
  unsigned width;
  unsigned height;
  const char* label;
};

std::string SizeName(unsigned width, unsigned height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

void RegisterRenderer() {
  // The catalogue's backgrounds are 288 x 144; the rest are synthetic.
  const Size sizes[] = {
      {288, 144, "288x144"}, {1024, 1024, "1024x1024"}, {4096, 4096, "4096x4096"}};
  for (const Size& size : sizes) {
    const std::uint64_t bytes = std::uint64_t{size.height} * cgvw::RowStride8(size.width);
    const std::uint64_t pixels = std::uint64_t{size.width} * size.height;
    const bool large = size.width == 4096;
    for (const std::uint32_t layout : {cgvw_flags::kMap16, cgvw_flags::kMap32}) {
      for (const MapOrder order : {MapOrder::kSequential, MapOrder::kShuffled}) {
        CaseInfo info;
        info.name = std::string("RenderTiles/") +
                    (layout == cgvw_flags::kMap16 ? "0x200" : "0x400") +
                    (order == MapOrder::kSequential ? "/sequential/" : "/shuffled/") + size.label;
        info.group = Group::kRender;
        info.outBytes = bytes;
        info.pixels = pixels;
        info.memcpyTarget = large ? 0.5 : 0;
        const unsigned w = size.width;
        const unsigned h = size.height;
        Register(info, [=](benchmark::State& state) {
          RunRender(state, [=] { return MakeTileMapSetup(layout, w, h, order); });
        });
      }
    }
    if (large) {
      CaseInfo info;
      info.name = std::string("Gather/shuffled-64-byte-blocks/") + size.label;
      info.group = Group::kRender;
      info.outBytes = bytes;
      info.pixels = pixels;
      Register(info, [bytes](benchmark::State& state) { RunGather(state, bytes); });
    }
    const std::pair<Selectors, const char*> mixes[] = {{Selectors::kAsStored, "stored"},
                                                       {Selectors::kMirrored, "mirrored"},
                                                       {Selectors::kFlipped, "flipped"},
                                                       {Selectors::kMixed, "mixed"}};
    for (const auto& [selectors, label] : mixes) {
      CaseInfo info;
      info.name = std::string("RenderTiles/0xC00/") + label + "/" + size.label;
      info.group = Group::kRender;
      info.outBytes = bytes;
      info.pixels = pixels;
      info.memcpyTarget = large && selectors == Selectors::kMirrored ? 0.25 : 0;
      const unsigned w = size.width;
      const unsigned h = size.height;
      const Selectors sel = selectors;
      Register(info, [=](benchmark::State& state) {
        RunRender(state, [=] { return MakeCellMapSetup(w, h, sel); });
      });
    }
  }
}

void RegisterColourWords() {
  // 256 entries is a catalogue palette; the larger counts measure throughput.
  for (const std::size_t count :
       {std::size_t{256}, std::size_t{1024} * 1024, std::size_t{4096} * 4096}) {
    CaseInfo info;
    info.name = "Palette/" + std::to_string(count);
    info.group = Group::kPalette;
    info.outBytes = count * 4;
    info.pixels = count;
    Register(info, [count](benchmark::State& state) { RunPalette(state, count); });
  }
  // 104 x 84 is the catalogue's portrait size (its portraits are 8-bit).
  const Size sizes[] = {{104, 84, "104x84"}, {1024, 1024, "1024x1024"}, {4096, 4096, "4096x4096"}};
  for (const Size& size : sizes) {
    for (const bool noSwap : {false, true}) {
      CaseInfo info;
      info.name =
          std::string("FifteenBit/") + (noSwap ? "little-endian/" : "big-endian/") + size.label;
      info.group = Group::kFifteenBit;
      info.outBytes = std::uint64_t{size.height} * 3 *
                      cgvw::PaddedWidth(static_cast<std::uint16_t>(size.width));
      info.pixels = std::uint64_t{size.width} * size.height;
      info.pixelTarget = 400e6;
      const unsigned w = size.width;
      const unsigned h = size.height;
      Register(info, [=](benchmark::State& state) { RunFifteenBit(state, w, h, noSwap); });
    }
  }
}

void RegisterDecodes() {
  // A catalogue background (row 0, 288 x 144 tiles) and a portrait (row 152).
  for (const int row : {0, 152}) {
    const TCGVwImage* image = &Catalogue[static_cast<std::size_t>(row)].Image;
    const auto layout = cgvw::DibLayoutFor(image->Flags, image->Width, image->Height);
    CaseInfo info;
    info.name = std::string("Decode/catalogue/") + (row == 0 ? "background" : "portrait") + "/" +
                SizeName(image->Width, image->Height);
    info.group = Group::kCatalogue;
    info.outBytes = layout->blockSize;
    info.pixels = std::uint64_t{image->Width} * image->Height;
    Register(info, [row, image](benchmark::State& state) {
      ProvideCatalogueRow(row);
      RunDecode(state, image, Memory::kWarm);
    });
    // The same through the typed API, from memory.
    info.name = std::string("Decode/typed/") + (row == 0 ? "background" : "portrait") + "/" +
                SizeName(image->Width, image->Height);
    Register(info, [row, image](benchmark::State& state) { RunTypedDecode(state, row, image); });
    // And through the C API, to RGBA.
    info.name = std::string("Decode/c-rgba/") + (row == 0 ? "background" : "portrait") + "/" +
                SizeName(image->Width, image->Height);
    info.outBytes = std::uint64_t{image->Width} * image->Height * 4;
    Register(info, [row, image](benchmark::State& state) { RunCDecode(state, row, image); });
  }
  // Synthetic pictures at growing sizes, for the scaling table, with the
  // memory warm and cold.
  for (const unsigned side : {256u, 512u, 1024u, 2048u, 4096u}) {
    struct Kind {
      const char* label;
      const TCGVwImage* image;
      void (*provide)(const TCGVwImage&);
    };
    const Kind kinds[] = {
        {"tiled-0x200", TiledPicture(side), ProvideTiled},
        {"plain-8bit", PlainPicture(side, cgvw_flags::kDepth8Bit256), ProvidePlain},
        {"plain-15bit", PlainPicture(side, cgvw_flags::kDepth15Bit), ProvidePlain},
    };
    for (const Kind& kind : kinds) {
      for (const Memory memory : {Memory::kWarm, Memory::kCold}) {
        const auto layout =
            cgvw::DibLayoutFor(kind.image->Flags, kind.image->Width, kind.image->Height);
        const char* regime = memory == Memory::kWarm ? "warm" : "cold";
        CaseInfo info;
        info.name = std::string("Decode/") + kind.label + "/" + regime + "/" + SizeName(side, side);
        info.group = Group::kScaling;
        info.outBytes = layout->blockSize;
        info.pixels = std::uint64_t{side} * side;
        info.scalingKind = std::string(kind.label) + ", " + regime;
        info.side = side;
        const TCGVwImage* image = kind.image;
        const auto provide = kind.provide;
        Register(info, [image, provide, memory](benchmark::State& state) {
          provide(*image);
          RunDecode(state, image, memory);
        });
      }
    }
  }
}

// One memcpy reference per distinct output size.
void RegisterMemcpy() {
  std::set<std::uint64_t> sizes;
  for (const CaseInfo& info : Cases()) {
    sizes.insert(info.outBytes);
  }
  for (const std::uint64_t bytes : sizes) {
    CaseInfo info;
    info.name = MemcpyName(bytes);
    info.group = Group::kMemcpy;
    info.outBytes = bytes;
    Register(info, [bytes](benchmark::State& state) { RunMemcpy(state, bytes); });
  }
}

// ---------------------------------------------------------------------------
// The summary: the usual console output, then the ratios.

double Median(std::vector<double> values) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) {
        failed_ = true;
        continue;
      }
      const auto bytes = run.counters.find("bytes_per_second");
      const auto items = run.counters.find("items_per_second");
      Rates& rates = rates_[run.run_name.function_name];
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median" && bytes != run.counters.end()) {
          rates.medianBytes = bytes->second.value;
          rates.medianItems = items != run.counters.end() ? items->second.value : 0;
        }
        continue;
      }
      if (bytes != run.counters.end()) {
        rates.bytes.push_back(bytes->second.value);
      }
      if (items != run.counters.end()) {
        rates.items.push_back(items->second.value);
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::FILE* out = stdout;
    std::fprintf(out, "\nSummary (medians of %s)\n\n", "the repetitions; rates use CPU time");
    std::fprintf(
        out,
        "| benchmark | output bytes | GB/s | memcpy GB/s | ratio | Mpixel/s | target | met |\n");
    std::fprintf(out, "|---|---:|---:|---:|---:|---:|---|---|\n");
    for (const CaseInfo& info : Cases()) {
      if (info.group == Group::kMemcpy || info.group == Group::kScaling) {
        continue;
      }
      PrintRow(out, info);
    }
    PrintScalingMatrix(out);
    std::fprintf(out, "\nWhole decodes in detail (CGVwDecode, source files in the page cache)\n\n");
    std::fprintf(out,
                 "| picture | size | pixels | us per decode | ns per pixel | GB/s | memcpy GB/s | "
                 "ratio |\n");
    std::fprintf(out, "|---|---|---:|---:|---:|---:|---:|---:|\n");
    for (const CaseInfo& info : Cases()) {
      if (info.group == Group::kScaling) {
        PrintScalingRow(out, info);
      }
    }
    std::fflush(out);
  }

 private:
  struct Rates {
    std::vector<double> bytes;
    std::vector<double> items;
    double medianBytes = 0;
    double medianItems = 0;
  };

  bool Lookup(const std::string& name, double* bytes, double* items) const {
    const auto it = rates_.find(name);
    if (it == rates_.end()) {
      return false;
    }
    const Rates& r = it->second;
    *bytes = r.medianBytes != 0 ? r.medianBytes : Median(r.bytes);
    *items = r.medianBytes != 0 ? r.medianItems : Median(r.items);
    return *bytes != 0;
  }

  void PrintRow(std::FILE* out, const CaseInfo& info) const {
    double bytes = 0;
    double items = 0;
    if (!Lookup(info.name, &bytes, &items)) {
      return;  // filtered out or failed
    }
    double memcpyBytes = 0;
    double unused = 0;
    const bool haveMemcpy = Lookup(MemcpyName(info.outBytes), &memcpyBytes, &unused);
    const double ratio = haveMemcpy ? bytes / memcpyBytes : 0;
    std::string target = "-";
    std::string met = "";
    if (info.memcpyTarget > 0) {
      char text[64];
      std::snprintf(text, sizeof text, ">= %.2f x memcpy", info.memcpyTarget);
      target = text;
      met = haveMemcpy ? (ratio >= info.memcpyTarget ? "yes" : "NO") : "?";
    } else if (info.pixelTarget > 0) {
      char text[64];
      std::snprintf(text, sizeof text, ">= %.0f Mpixel/s", info.pixelTarget / 1e6);
      target = text;
      met = items >= info.pixelTarget ? "yes" : "NO";
    }
    std::fprintf(out, "| %s | %llu | %.2f | %s | %s | %.0f | %s | %s |\n", info.name.c_str(),
                 static_cast<unsigned long long>(info.outBytes), bytes / 1e9,
                 haveMemcpy ? Format(memcpyBytes / 1e9).c_str() : "?",
                 haveMemcpy ? Format(ratio).c_str() : "?", items / 1e6, target.c_str(),
                 met.c_str());
  }

  // Microseconds per decode of each kind of picture by size, and the line
  // time = fixed + per pixel x pixels fitted through them (least squares on
  // the relative error): the cost grows linearly with the pixels when the
  // line meets every size.
  void PrintScalingMatrix(std::FILE* out) const {
    std::vector<std::string> kinds;
    std::vector<unsigned> sides;
    std::map<std::pair<std::string, unsigned>, double> micros;
    std::map<std::pair<std::string, unsigned>, double> ofMemcpy;
    for (const CaseInfo& info : Cases()) {
      double bytes = 0;
      double items = 0;
      if (info.group != Group::kScaling || !Lookup(info.name, &bytes, &items) || items == 0) {
        continue;
      }
      if (std::find(kinds.begin(), kinds.end(), info.scalingKind) == kinds.end()) {
        kinds.push_back(info.scalingKind);
      }
      if (std::find(sides.begin(), sides.end(), info.side) == sides.end()) {
        sides.push_back(info.side);
      }
      micros[{info.scalingKind, info.side}] = static_cast<double>(info.pixels) / items * 1e6;
      double memcpyBytes = 0;
      double unused = 0;
      if (Lookup(MemcpyName(info.outBytes), &memcpyBytes, &unused)) {
        ofMemcpy[{info.scalingKind, info.side}] = bytes / memcpyBytes;
      }
    }
    if (kinds.empty()) {
      return;
    }
    std::sort(sides.begin(), sides.end());
    std::fprintf(out, "\nScaling: microseconds per whole decode by size, and the fitted line\n\n");
    std::fprintf(out, "| picture, memory |");
    for (const unsigned side : sides) {
      std::fprintf(out, " %ux%u |", side, side);
    }
    std::fprintf(out, " fixed us | ns per pixel | worst distance from the line |\n|---|");
    for (std::size_t i = 0; i < sides.size() + 3; ++i) {
      std::fprintf(out, "---:|");
    }
    std::fprintf(out, "\n");
    for (const std::string& kind : kinds) {
      std::fprintf(out, "| %s |", kind.c_str());
      // Weighted least squares of t = a + b n with weights 1 / t^2.
      double sw = 0, sn = 0, st = 0, snn = 0, snt = 0;
      std::vector<std::pair<double, double>> points;
      for (const unsigned side : sides) {
        const auto it = micros.find({kind, side});
        if (it == micros.end()) {
          std::fprintf(out, " - |");
          continue;
        }
        const double n = static_cast<double>(side) * side;
        const double t = it->second;
        const double w = 1 / (t * t);
        sw += w;
        sn += w * n;
        st += w * t;
        snn += w * n * n;
        snt += w * n * t;
        points.emplace_back(n, t);
        std::fprintf(out, " %.1f |", t);
      }
      const double det = sw * snn - sn * sn;
      if (points.size() < 2 || det == 0) {
        std::fprintf(out, " - | - | - |\n");
        continue;
      }
      const double slope = (sw * snt - sn * st) / det;
      const double fixed = (st - slope * sn) / sw;
      double worst = 0;
      for (const auto& [n, t] : points) {
        worst = std::max(worst, std::abs(fixed + slope * n - t) / t);
      }
      std::fprintf(out, " %.1f | %.3f | %.0f%% |\n", fixed, slope * 1e3, worst * 100);
    }
    if (ofMemcpy.empty()) {
      return;
    }
    // The same decodes as a fraction of memcpy over the block's bytes at the
    // same size: memcpy steps down where the data leaves a cache level, and a
    // decode that scales like memory itself keeps its fraction.
    std::fprintf(out,
                 "\nScaling: whole decode rate / memcpy rate over the same bytes, by size\n\n");
    std::fprintf(out, "| picture, memory |");
    for (const unsigned side : sides) {
      std::fprintf(out, " %ux%u |", side, side);
    }
    std::fprintf(out, "\n|---|");
    for (std::size_t i = 0; i < sides.size(); ++i) {
      std::fprintf(out, "---:|");
    }
    std::fprintf(out, "\n");
    for (const std::string& kind : kinds) {
      std::fprintf(out, "| %s |", kind.c_str());
      for (const unsigned side : sides) {
        const auto it = ofMemcpy.find({kind, side});
        if (it == ofMemcpy.end()) {
          std::fprintf(out, " - |");
        } else {
          std::fprintf(out, " %.2f |", it->second);
        }
      }
      std::fprintf(out, "\n");
    }
  }

  void PrintScalingRow(std::FILE* out, const CaseInfo& info) const {
    double bytes = 0;
    double items = 0;
    if (!Lookup(info.name, &bytes, &items)) {
      return;
    }
    double memcpyBytes = 0;
    double unused = 0;
    const bool haveMemcpy = Lookup(MemcpyName(info.outBytes), &memcpyBytes, &unused);
    const double seconds = static_cast<double>(info.pixels) / items;
    std::fprintf(out, "| %s | %ux%u | %llu | %.1f | %.3f | %.2f | %s | %s |\n",
                 info.scalingKind.c_str(), info.side, info.side,
                 static_cast<unsigned long long>(info.pixels), seconds * 1e6,
                 seconds * 1e9 / static_cast<double>(info.pixels), bytes / 1e9,
                 haveMemcpy ? Format(memcpyBytes / 1e9).c_str() : "?",
                 haveMemcpy ? Format(bytes / memcpyBytes).c_str() : "?");
  }

  static std::string Format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
  }

  std::map<std::string, Rates> rates_;
  bool failed_ = false;

 public:
  bool failed() const { return failed_; }
};

}  // namespace

int main(int argc, char** argv) {
  RegisterRenderer();
  RegisterColourWords();
  RegisterDecodes();
  RegisterMemcpy();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}
