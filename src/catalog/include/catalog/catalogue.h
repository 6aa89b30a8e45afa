// The built-in catalogue: the 161 pictures that a run converts, in order.
#pragma once

#include <array>
#include <cstddef>

#include "catalog/catalogue_c.h"
#include "cgvw/descriptors.h"

// TCatalogEntry, a catalogue row (catalogue_c.h): the picture's
// descriptor and a Shift-JIS label; a row whose Category is null ends the
// catalogue. On 32-bit targets a row has the byte layout it is stored in.
static_assert(sizeof(void*) != 4 || sizeof(TCatalogEntry) == 44, "TCatalogEntry: 44 bytes");

inline constexpr std::size_t kBackgroundRows = 152;
inline constexpr std::size_t kPortraitRows = 9;
inline constexpr std::size_t kPictureRows = kBackgroundRows + kPortraitRows;

// 161 rows and the terminating row of zeros.
extern const std::array<TCatalogEntry, kPictureRows + 1> Catalogue;

// One tile-map range per background row, in row order.
extern const std::array<TCGVwChunk, kBackgroundRows> MapSources;
