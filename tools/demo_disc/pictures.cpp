// The demo pictures. Each one shows its row number as three big bevelled
// digits in colours of its own. Backgrounds are laid out on the 8 x 8 grid of
// their tiles so that they are made of a handful of distinct tiles; the
// patterned tiles and the digits are asymmetric, so a tile or a picture drawn
// mirrored or upside down looks wrong.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalog/catalogue.h"
#include "demo_disc/demo_disc.h"

namespace demo {
namespace {

// A colour of 5-bit channels: everything drawn uses these, so that every RGB
// value is v * 255 / 31 of some v.
struct Colour5 {
  int r = 0;
  int g = 0;
  int b = 0;
};

std::uint8_t Widen(int channel) {
  return static_cast<std::uint8_t>(channel * 255 / 31);
}

// Hue 0..1535 (six sectors of 256), saturation 0..255, value 0..31.
Colour5 FromHsv(int hue, int saturation, int value) {
  hue %= 1536;
  const int sector = hue / 256;
  const int f = hue % 256;
  const int p = value * (255 - saturation) / 255;
  const int q = value * (255 - saturation * f / 255) / 255;
  const int t = value * (255 - saturation * (255 - f) / 255) / 255;
  switch (sector) {
    case 0:
      return {value, t, p};
    case 1:
      return {q, value, p};
    case 2:
      return {p, value, t};
    case 3:
      return {p, q, value};
    case 4:
      return {t, p, value};
    default:
      return {value, p, q};
  }
}

// The colours of one picture, all derived from the row number.
struct Scheme {
  Colour5 ground;  // background
  Colour5 mark;    // the arrows on the background
  Colour5 band;    // top and bottom bands
  Colour5 stripe;  // the second colour of the top band
  Colour5 face;    // digit blocks
  Colour5 light;   // their lit top and left edges
  Colour5 shade;   // their shaded bottom and right edges
  int hue = 0;
};

Scheme SchemeOf(int row) {
  // 587 is coprime with 1536, so no two rows share a hue.
  const int hue = row * 587 % 1536;
  const int opposite = hue + 768;
  const int level = row % 4;
  Scheme s;
  s.hue = hue;
  s.ground = FromHsv(hue, 210, 8 + 2 * level);
  s.mark = FromHsv(hue, 120, 20 + level);
  s.band = FromHsv(hue, 230, 25 - level);
  s.stripe = FromHsv(opposite, 160, 14 + level);
  s.face = FromHsv(opposite, 110, 29 - level);
  s.light = FromHsv(opposite, 30, 31);
  s.shade = FromHsv(opposite, 220, 11 + level);
  return s;
}

class Canvas {
 public:
  Canvas(int width, int height)
      : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height) {}

  void Set(int x, int y, Colour5 c) {
    if (x >= 0 && x < width_ && y >= 0 && y < height_) {
      pixels_[static_cast<std::size_t>(y) * width_ + x] = c;
    }
  }

  void Fill(int x0, int y0, int w, int h, Colour5 c) {
    for (int y = y0; y < y0 + h; ++y) {
      for (int x = x0; x < x0 + w; ++x) {
        Set(x, y, c);
      }
    }
  }

  int width() const { return width_; }
  int height() const { return height_; }

  Picture ToPicture() const {
    Picture picture;
    picture.width = width_;
    picture.height = height_;
    picture.rgb.reserve(pixels_.size() * 3);
    for (const Colour5& c : pixels_) {
      picture.rgb.push_back(Widen(c.r));
      picture.rgb.push_back(Widen(c.g));
      picture.rgb.push_back(Widen(c.b));
    }
    return picture;
  }

 private:
  int width_;
  int height_;
  std::vector<Colour5> pixels_;
};

// Digits 0 to 9 as 5 x 7 blocks, top row first, leftmost block in bit 4.
constexpr std::array<std::array<std::uint8_t, 7>, 10> kFont = {{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
}};
constexpr int kFontColumns = 5;
constexpr int kFontRows = 7;

// One digit block of size x size pixels: lit along the top and left edges,
// shaded along the bottom and right, split along the diagonal in the two
// corners where lit and shaded edges meet.
void DrawBlock(Canvas& canvas, int x0, int y0, int size, int bevel, const Scheme& s) {
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const bool lit = x < bevel || y < bevel;
      const bool shaded = x >= size - bevel || y >= size - bevel;
      Colour5 c = s.face;
      if (lit && shaded) {
        c = (x + y < size) ? s.light : s.shade;
      } else if (lit) {
        c = s.light;
      } else if (shaded) {
        c = s.shade;
      }
      canvas.Set(x0 + x, y0 + y, c);
    }
  }
}

// The row number as three digits ("007"), `gap` pixels apart.
void DrawNumber(Canvas& canvas, int row, int x0, int y0, int block, int bevel, int gap,
                const Scheme& s) {
  const std::string digits = {static_cast<char>('0' + row / 100),
                              static_cast<char>('0' + row / 10 % 10),
                              static_cast<char>('0' + row % 10)};
  for (std::size_t d = 0; d < digits.size(); ++d) {
    const auto& glyph = kFont[static_cast<std::size_t>(digits[d] - '0')];
    const int left = x0 + static_cast<int>(d) * (kFontColumns * block + gap);
    for (int r = 0; r < kFontRows; ++r) {
      for (int c = 0; c < kFontColumns; ++c) {
        if ((glyph[static_cast<std::size_t>(r)] >> (kFontColumns - 1 - c)) & 1) {
          DrawBlock(canvas, left + c * block, y0 + r * block, block, bevel, s);
        }
      }
    }
  }
}

constexpr int kCell = 8;

// The top band's tile: diagonal stripes rising to the right over a solid
// bottom line.
void DrawStripeCell(Canvas& canvas, int x0, int y0, const Scheme& s) {
  for (int y = 0; y < kCell; ++y) {
    for (int x = 0; x < kCell; ++x) {
      const bool line = y == kCell - 1 || ((x + y) / 2) % 2 == 0;
      canvas.Set(x0 + x, y0 + y, line ? s.stripe : s.band);
    }
  }
}

// The side columns' tile: an arrow pointing up and to the right.
void DrawArrowCell(Canvas& canvas, int x0, int y0, const Scheme& s) {
  for (int y = 0; y < kCell; ++y) {
    for (int x = 0; x < kCell; ++x) {
      const bool head = (y == 1 && x >= 3 && x <= 6) || (x == 6 && y >= 1 && y <= 4);
      const bool shaft = x + y == 7 && x >= 1 && x <= 5;
      canvas.Set(x0 + x, y0 + y, (head || shaft) ? s.mark : s.ground);
    }
  }
}

// A background: top band of stripes, bottom band of plain colour, arrows
// down both sides and the number in 16 x 16 blocks aligned with the tiles,
// once in a 144-row picture and twice in a taller one. Made of eight
// distinct tiles.
Picture DrawBackground(int row, int width, int height) {
  const Scheme s = SchemeOf(row);
  Canvas canvas(width, height);
  canvas.Fill(0, 0, width, height, s.ground);
  const int columns = width / kCell;
  const int rows = height / kCell;
  for (int j = 0; j < columns; ++j) {
    DrawStripeCell(canvas, j * kCell, 0, s);
  }
  canvas.Fill(0, (rows - 1) * kCell, width, kCell, s.band);
  for (int i = 1; i < rows - 1; ++i) {
    DrawArrowCell(canvas, 0, i * kCell, s);
    DrawArrowCell(canvas, (columns - 1) * kCell, i * kCell, s);
  }

  constexpr int kBlock = 2 * kCell;
  constexpr int kNumberWidth = 3 * kFontColumns * kBlock + 2 * kCell;  // 8-pixel gaps
  constexpr int kNumberHeight = kFontRows * kBlock;
  const int x0 = (columns - kNumberWidth / kCell) / 2 * kCell;
  const int inner = rows - 2;  // cell rows between the bands
  const int copies = inner >= 2 * (kNumberHeight / kCell) + 3 ? 2 : 1;
  const int spare = inner - copies * (kNumberHeight / kCell);
  const int space = spare / (copies + 1);
  int top = 1 + space + (spare - space * (copies + 1)) / 2;
  for (int copy = 0; copy < copies; ++copy) {
    DrawNumber(canvas, row, x0, top * kCell, kBlock, 2, kCell, s);
    top += kNumberHeight / kCell + space;
  }
  return canvas.ToPicture();
}

// A portrait: a vertical gradient from dark at the top to light at the
// bottom, a frame on the left, right and bottom, a triangle in the top-left
// corner and the number in 6 x 6 blocks.
Picture DrawPortrait(int row, int width, int height) {
  const Scheme s = SchemeOf(row);
  Canvas canvas(width, height);
  constexpr int kShades = 24;
  for (int y = 0; y < height; ++y) {
    canvas.Fill(0, y, width, 1, FromHsv(s.hue, 180, 4 + y * kShades / height));
  }
  canvas.Fill(0, 0, 2, height, s.band);
  canvas.Fill(width - 2, 0, 2, height, s.band);
  canvas.Fill(0, height - 2, width, 2, s.band);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x + y < 12; ++x) {
      canvas.Set(x, y, s.stripe);
    }
  }
  constexpr int kBlock = 6;
  constexpr int kGap = 4;
  constexpr int kNumberWidth = 3 * kFontColumns * kBlock + 2 * kGap;
  constexpr int kNumberHeight = kFontRows * kBlock;
  DrawNumber(canvas, row, (width - kNumberWidth) / 2, (height - kNumberHeight) / 2, kBlock, 1, kGap,
             s);
  return canvas.ToPicture();
}

}  // namespace

int PictureCount() {
  return static_cast<int>(kPictureRows);
}

Picture SourcePicture(int row) {
  if (row < 0 || row >= PictureCount()) {
    throw std::out_of_range("no catalogue row " + std::to_string(row));
  }
  const TCGVwImage& image = Catalogue[static_cast<std::size_t>(row)].Image;
  if ((image.Flags & cgvw_flags::kKindMask) == cgvw_flags::kKindTiled) {
    return DrawBackground(row, image.Width, image.Height);
  }
  return DrawPortrait(row, image.Width, image.Height);
}

}  // namespace demo
