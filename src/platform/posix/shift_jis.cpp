#include "platform/shift_jis.h"

#include <algorithm>
#include <cstdint>

namespace platform {
namespace {

// Double-byte characters outside the kana rows, by their code (lead byte
// high), sorted: the punctuation and kanji of the console texts.
struct Pair {
  std::uint16_t code;
  char16_t unicode;
};
constexpr Pair kTable[] = {
    {0x8140, u'\u3000'},  // ideographic space
    {0x8141, u'\u3001'},  // 、
    {0x8142, u'\u3002'},  // 。
    {0x815B, u'\u30FC'},  // ー
    {0x8EB8, u'\u5931'},  // 失
    {0x8F49, u'\u7D42'},  // 終
    {0x8F88, u'\u51E6'},  // 処
    {0x90AC, u'\u6210'},  // 成
    {0x90B6, u'\u751F'},  // 生
    {0x9266, u'\u65AD'},  // 断
    {0x9286, u'\u4E2D'},  // 中
    {0x9473, u'\u6557'},  // 敗
    {0x94AD, u'\u767A'},  // 発
    {0x979D, u'\u7406'},  // 理
    {0x97B9, u'\u4E86'},  // 了
};
static_assert(std::is_sorted(std::begin(kTable), std::end(kTable),
                             [](const Pair& a, const Pair& b) { return a.code < b.code; }));

bool IsLead(std::uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsTrail(std::uint8_t byte) {
  return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

// The code point of a double-byte character; 0 where it is not held.
char32_t DoubleByte(std::uint16_t code) {
  if (code >= 0x829F && code <= 0x82F1) {  // hiragana ぁ..ん, in Unicode's order
    return U'\u3041' + (code - 0x829F);
  }
  if (code >= 0x8340 && code <= 0x8396 && code != 0x837F) {  // katakana ァ..ヶ, 0x7F skipped
    return U'\u30A1' + (code - 0x8340) - (code > 0x837F ? 1 : 0);
  }
  const Pair* found =
      std::lower_bound(std::begin(kTable), std::end(kTable), code,
                       [](const Pair& pair, std::uint16_t c) { return pair.code < c; });
  return found != std::end(kTable) && found->code == code ? found->unicode : 0;
}

std::size_t PutUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (c >> 12));
  out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (c & 0x3F));
  return 3;
}

}  // namespace

std::size_t ShiftJisToUtf8(std::string_view* text, std::span<char> out) noexcept {
  constexpr std::size_t kLongest = 3;  // every code point here is below U+10000
  std::size_t put = 0;
  while (!text->empty() && out.size() - put >= kLongest) {
    const auto byte = static_cast<std::uint8_t>((*text)[0]);
    std::size_t taken = 1;
    char32_t c = 0;
    if (byte < 0x80) {
      c = byte;
    } else if (byte >= 0xA1 && byte <= 0xDF) {  // half-width katakana
      c = U'\uFF61' + (byte - 0xA1);
    } else if (IsLead(byte) && text->size() >= 2 &&
               IsTrail(static_cast<std::uint8_t>((*text)[1]))) {
      c = DoubleByte(static_cast<std::uint16_t>(byte << 8 | static_cast<std::uint8_t>((*text)[1])));
      taken = c != 0 ? 2 : 1;
    }
    if (c == 0 && byte != 0) {
      out[put++] = static_cast<char>(byte);  // not converted: the byte as it is
    } else {
      put += PutUtf8(c, out.data() + put);
    }
    text->remove_prefix(taken);
  }
  return put;
}

}  // namespace platform
