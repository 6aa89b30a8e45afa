// The built-in catalogue data. Nothing here is discovered at run time: every
// row names exactly the byte ranges that are read from the disc.
#include "catalog/catalogue.h"

#include <cstdint>

namespace {

// A background: its file "bgNNN_0.bg" holds 256 colour words at 0x18, the
// tiles at 0x220 and the 16-bit tile map 8 bytes after the tiles.
struct BackgroundRow {
  int number;             // NNN of the file name
  std::uint32_t pixSize;  // tile bytes, a whole number of 64-byte tiles
  std::uint16_t height = 144;
};

constexpr BackgroundRow kBackgrounds[kBackgroundRows] = {
    {0, 0xA240},   {1, 0xA240},   {2, 0x9CC0},         {3, 0xA240},   {4, 0x9CC0},   {5, 0xA240},
    {6, 0xA0C0},   {9, 0x9BC0},   {10, 0xA240},        {11, 0x9440},  {12, 0xA240},  {13, 0xA240},
    {14, 0xA240},  {15, 0xA240},  {16, 0xA180},        {17, 0xA240},  {18, 0xA140},  {19, 0xA240},
    {20, 0xA040},  {21, 0xA180},  {22, 0x14700, 296},  {23, 0xA240},  {24, 0xA100},  {25, 0xA1C0},
    {26, 0xA240},  {27, 0x99C0},  {34, 0xA240},        {35, 0xA240},  {36, 0xA240},  {37, 0xA240},
    {38, 0xA240},  {39, 0xA240},  {40, 0xA240},        {41, 0xA0C0},  {42, 0xA240},  {43, 0xA240},
    {44, 0x9BC0},  {45, 0xA240},  {46, 0xA240},        {47, 0x9640},  {48, 0xA240},  {49, 0xA240},
    {50, 0xA240},  {51, 0xA240},  {52, 0xA240},        {53, 0x9EC0},  {54, 0xA240},  {55, 0xA240},
    {56, 0xA240},  {57, 0xA240},  {58, 0xA240},        {59, 0xA240},  {60, 0xA180},  {61, 0xA240},
    {62, 0xA240},  {63, 0x99C0},  {64, 0xA040},        {65, 0xA180},  {66, 0xA240},  {67, 0xA240},
    {68, 0xA240},  {69, 0x99C0},  {70, 0xA100},        {71, 0xA1C0},  {72, 0xA240},  {73, 0xA240},
    {74, 0xA240},  {75, 0x9A00},  {76, 0xA000},        {77, 0xA240},  {78, 0x9D40},  {79, 0x7EC0},
    {80, 0xA240},  {81, 0x9D00},  {82, 0xA240},        {83, 0xA240},  {84, 0xA240},  {85, 0xA240},
    {86, 0xA240},  {87, 0xA240},  {88, 0xA200},        {89, 0xA240},  {90, 0xA240},  {91, 0xA240},
    {92, 0xA100},  {93, 0xA200},  {94, 0x92C0},        {95, 0xA240},  {96, 0x9B80},  {97, 0xA1C0},
    {98, 0xA1C0},  {99, 0xA240},  {100, 0xA240},       {101, 0x9F80}, {102, 0xA240}, {103, 0xA240},
    {104, 0x5800}, {105, 0xA240}, {106, 0xA240},       {107, 0xA240}, {108, 0x9C80}, {109, 0xA240},
    {111, 0xA240}, {112, 0xA240}, {113, 0x9D00},       {114, 0x82C0}, {115, 0xA140}, {116, 0xA100},
    {117, 0x9D80}, {118, 0xA1C0}, {119, 0xA000},       {120, 0x9F80}, {121, 0x9F00}, {122, 0x9CC0},
    {123, 0x4C0},  {124, 0xA1C0}, {125, 0x14C40, 296}, {126, 0xA180}, {127, 0xA240}, {128, 0xA240},
    {129, 0xA240}, {130, 0x9880}, {131, 0x8880},       {132, 0xA240}, {133, 0x9680}, {134, 0xA240},
    {135, 0x9680}, {136, 0x9680}, {137, 0x9F80},       {138, 0xA140}, {139, 0xA240}, {140, 0xA240},
    {141, 0x9E80}, {142, 0xA240}, {143, 0xA000},       {144, 0x9E80}, {145, 0xA200}, {146, 0xA240},
    {147, 0xA240}, {148, 0xA180}, {149, 0xA240},       {150, 0x9640}, {151, 0x9D80}, {152, 0x9680},
    {153, 0xA240}, {154, 0xA1C0}, {155, 0xA240},       {156, 0x93C0}, {157, 0x9D80}, {158, 0x9700},
    {159, 0xA240}, {160, 0xA1C0},
};

constexpr std::uint16_t kBackgroundWidth = 288;
constexpr std::uint32_t kBackgroundFlags = 0x241;  // tiled, 8-bit 256 colours, 16-bit map
constexpr std::uint32_t kBackgroundPalOffset = 0x18;
constexpr std::uint32_t kBackgroundPixOffset = 0x220;
constexpr std::uint32_t kMapGap = 8;  // bytes between the tiles and the map

// A portrait: "<stem>.bpl" holds 256 colour words at 4, "<stem>.btx" the
// 104 x 84 palette indices at 4.
struct PortraitRow {
  const char* palFile;
  const char* pixFile;
};

constexpr PortraitRow kPortraits[kPortraitRows] = {
    {"Tesuna.bpl", "Tesuna.btx"}, {"Mirabo.bpl", "Mirabo.btx"}, {"Lonet.bpl", "Lonet.btx"},
    {"Pelka.bpl", "Pelka.btx"},   {"Quena.bpl", "Quena.btx"},   {"Rusel.bpl", "Rusel.btx"},
    {"Hodaki.bpl", "Hodaki.btx"}, {"Nerumi.bpl", "Nerumi.btx"}, {"Sofu.bpl", "Sofu.btx"},
};

constexpr std::uint32_t kPortraitFlags = 0x40;  // plain, 8-bit 256 colours
constexpr std::uint16_t kPortraitWidth = 104;
constexpr std::uint16_t kPortraitHeight = 84;
constexpr std::uint32_t kPortraitOffset = 4;
constexpr std::uint32_t kPortraitPixSize = 104 * 84;

// Shift-JIS labels: "背景" (background) and "日直" (portrait).
constexpr char kBackgroundCategory[] = "\x94\x77\x8C\x69";
constexpr char kPortraitCategory[] = "\x93\xFA\x92\xBC";

using FileName = std::array<char, sizeof("bg000_0.bg")>;

constexpr FileName BackgroundName(int number) {
  FileName name{'b', 'g', '0', '0', '0', '_', '0', '.', 'b', 'g', '\0'};
  name[2] = static_cast<char>('0' + number / 100);
  name[3] = static_cast<char>('0' + number / 10 % 10);
  name[4] = static_cast<char>('0' + number % 10);
  return name;
}

constexpr std::array<FileName, kBackgroundRows> BuildBackgroundNames() {
  std::array<FileName, kBackgroundRows> names{};
  for (std::size_t row = 0; row < kBackgroundRows; ++row) {
    names[row] = BackgroundName(kBackgrounds[row].number);
  }
  return names;
}

constexpr std::array<FileName, kBackgroundRows> kBackgroundNames = BuildBackgroundNames();

constexpr std::uint32_t MapSize(std::uint16_t height) {
  return (kBackgroundWidth / 8) * (height / 8) * 2;  // one 16-bit entry per 8 x 8 cell
}

constexpr std::array<TCGVwChunk, kBackgroundRows> BuildMapSources() {
  std::array<TCGVwChunk, kBackgroundRows> chunks{};
  for (std::size_t row = 0; row < kBackgroundRows; ++row) {
    const BackgroundRow& bg = kBackgrounds[row];
    chunks[row] = TCGVwChunk{kBackgroundNames[row].data(),
                             kBackgroundPixOffset + bg.pixSize + kMapGap, MapSize(bg.height)};
  }
  return chunks;
}

}  // namespace

constexpr std::array<TCGVwChunk, kBackgroundRows> MapSources = BuildMapSources();

namespace {

constexpr TCatalogEntry BackgroundEntry(std::size_t row) {
  const BackgroundRow& bg = kBackgrounds[row];
  const char* name = kBackgroundNames[row].data();
  return TCatalogEntry{
      TCGVwImage{kBackgroundFlags, kBackgroundWidth, bg.height, 0, 0, nullptr, name,
                 kBackgroundPalOffset, name, kBackgroundPixOffset, bg.pixSize, &MapSources[row]},
      kBackgroundCategory};
}

constexpr TCatalogEntry PortraitEntry(std::size_t index) {
  const PortraitRow& portrait = kPortraits[index];
  return TCatalogEntry{
      TCGVwImage{kPortraitFlags, kPortraitWidth, kPortraitHeight, 0, 0, nullptr, portrait.palFile,
                 kPortraitOffset, portrait.pixFile, kPortraitOffset, kPortraitPixSize, nullptr},
      kPortraitCategory};
}

constexpr std::array<TCatalogEntry, kPictureRows + 1> BuildCatalogue() {
  std::array<TCatalogEntry, kPictureRows + 1> rows{};  // the last row stays all zero
  for (std::size_t row = 0; row < kBackgroundRows; ++row) {
    rows[row] = BackgroundEntry(row);
  }
  for (std::size_t index = 0; index < kPortraitRows; ++index) {
    rows[kBackgroundRows + index] = PortraitEntry(index);
  }
  return rows;
}

}  // namespace

constexpr std::array<TCatalogEntry, kPictureRows + 1> Catalogue = BuildCatalogue();

// The same rows for C, which has no std::array.
const TCatalogEntry* const CGVwCatalogue = Catalogue.data();
