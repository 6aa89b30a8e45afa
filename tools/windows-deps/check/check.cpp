// Checks the static Windows builds of libcdio, libiso9660, libspng, zlib and
// the small iconv that scripts/windows-deps.sh makes. Run by run.sh in a
// directory that holds disc.iso (xorriso -as mkisofs -J -R) and disc.cue with
// disc.bin (the same image as raw 2352-byte Mode 1 sectors); see run.sh for
// the files on the disc. Writes two PNG files there, and ends with the line
// "N passed, N failed"; the exit status is 0 only if nothing failed.
#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/iso9660.h>
#include <cdio/logging.h>
extern "C" {
#include <cdio/utf8.h>  // unlike the others, this header has no extern "C" of its own
}
#include <spng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
  ++(ok ? passed : failed);
}

// The files on the disc (run.sh writes them; UTF-8 names).
const char* const kPictures = "Title Screen Pictures.DAT";
const char* const kText =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE3\x83\x94\xE3\x82\xAF\xE3\x83\x81\xE3\x83\xA3.txt";
const char* const kDirectory = "Scene Data";
const char* const kNested = "Opening Long-Name Picture.bin";
const std::size_t kPicturesSize = 5000;
const std::time_t kPicturesTime = 981173106;  // 2001-02-03 04:05:06 UTC

std::vector<unsigned char> pictures_bytes() {
  std::vector<unsigned char> bytes(kPicturesSize);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(i * 13 + i / 2048);
  return bytes;
}

// libcdio's messages, kept to be checked and shown.
std::vector<std::string> messages;
void keep_message(cdio_log_level_t level, const char message[]) {
  messages.push_back(std::to_string(static_cast<int>(level)) + " " + message);
}
bool logged(cdio_log_level_t level, const char* part) {
  const std::string prefix = std::to_string(static_cast<int>(level)) + " ";
  for (const std::string& message : messages)
    if (message.rfind(prefix, 0) == 0 && message.find(part) != std::string::npos)
      return true;
  return false;
}

struct Entry {
  std::string name;
  bool directory;
  bool rock_ridge;
  lsn_t lsn;
  std::uint32_t size;
  std::uint32_t sectors;
  std::tm tm;
};

// Copies a libcdio directory listing (without "." and "..") and frees it.
std::vector<Entry> entries_of(CdioList_t* list) {
  std::vector<Entry> entries;
  if (list == nullptr)
    return entries;
  for (CdioListNode_t* node = _cdio_list_begin(list); node != nullptr;
       node = _cdio_list_node_next(node)) {
    const auto* stat = static_cast<const iso9660_stat_t*>(_cdio_list_node_data(node));
    const std::string name = stat->filename;
    if (name == "." || name == "..")
      continue;
    entries.push_back({name, stat->type == iso9660_stat_s::_STAT_DIR, stat->rr.b3_rock == yep,
                       stat->lsn, stat->size, stat->secsize, stat->tm});
  }
  iso9660_filelist_free(list);
  return entries;
}

const Entry* find(const std::vector<Entry>& entries, const std::string& name) {
  for (const Entry& entry : entries)
    if (entry.name == name)
      return &entry;
  return nullptr;
}

std::string names(const std::vector<Entry>& entries) {
  std::string text;
  for (const Entry& entry : entries)
    text += "[" + entry.name + (entry.directory ? "/" : "") + "]";
  return text;
}

bool same_names(const std::vector<Entry>& entries, std::vector<std::string> expected) {
  if (entries.size() != expected.size())
    return false;
  for (const std::string& name : expected)
    if (find(entries, name) == nullptr)
      return false;
  return true;
}

// Reads a file's sectors, cut to its size.
template <typename Read>
std::vector<unsigned char> contents(const Entry& entry, Read read) {
  std::vector<unsigned char> bytes(std::size_t{entry.sectors} * ISO_BLOCKSIZE);
  if (!read(bytes.data(), entry.lsn, entry.sectors))
    return {};
  bytes.resize(entry.size);
  return bytes;
}

void check_iso() {
  std::puts("--- disc.iso, Joliet names (ISO_EXTENSION_ALL)");
  iso9660_t* iso = iso9660_open_ext("disc.iso", ISO_EXTENSION_ALL);
  check(iso != nullptr, "iso9660_open_ext opens disc.iso");
  if (iso == nullptr)
    return;
  check(iso9660_ifs_get_joliet_level(iso) == 3, "Joliet level 3");
  const std::vector<Entry> root = entries_of(iso9660_ifs_readdir(iso, "/"));
  std::printf("root: %s\n", names(root).c_str());
  check(same_names(root, {kPictures, kText, kDirectory}), "root lists the three Joliet names");
  const Entry* pictures = find(root, kPictures);
  if (pictures != nullptr) {
    check(!pictures->rock_ridge, "the name comes from the Joliet tree, not from Rock Ridge");
    const auto bytes = contents(*pictures, [&](void* out, lsn_t lsn, std::uint32_t sectors) {
      return iso9660_iso_seek_read(iso, out, lsn, sectors) ==
             static_cast<long>(sectors) * ISO_BLOCKSIZE;
    });
    check(bytes == pictures_bytes(), "iso9660_iso_seek_read reads the 5000 bytes of the file");
    // Read as local time (libcdio does) in a zone far from UTC: a wrong
    // timegm() shows here as a shift by the zone's offset.
    std::tm tm = pictures->tm;
    check(tm.tm_hour == 13 && tm.tm_min == 5 && std::mktime(&tm) == kPicturesTime,
          "recording time 2001-02-03 04:05:06 UTC, as 13:05:06 local time in TZ=JST-9");
  }
  const std::vector<Entry> nested = entries_of(iso9660_ifs_readdir(iso, "/Scene Data"));
  check(same_names(nested, {kNested}), "/Scene Data lists " + names(nested));
  iso9660_close(iso);

  std::puts("--- disc.iso, Rock Ridge names (ISO_EXTENSION_ROCK_RIDGE)");
  iso = iso9660_open_ext("disc.iso", ISO_EXTENSION_ROCK_RIDGE);
  check(iso != nullptr && iso9660_ifs_get_joliet_level(iso) == 0, "opened without Joliet");
  if (iso == nullptr)
    return;
  const std::vector<Entry> rock = entries_of(iso9660_ifs_readdir(iso, "/"));
  std::printf("root: %s\n", names(rock).c_str());
  check(same_names(rock, {kPictures, kText, kDirectory}), "root lists the three Rock Ridge names");
  const Entry* text = find(rock, kText);
  check(text != nullptr && text->rock_ridge, "the names come from Rock Ridge entries");
  iso9660_close(iso);
}

void check_cue() {
  std::puts("--- disc.cue with disc.bin (MODE1/2352)");
  char* cue_of_bin = cdio_is_binfile("disc.bin");
  check(cue_of_bin != nullptr && std::strcmp(cue_of_bin, "disc.cue") == 0,
        "cdio_is_binfile(disc.bin) names disc.cue");
  std::free(cue_of_bin);
  CdIo_t* cdio = cdio_open_cue("disc.cue");
  check(cdio != nullptr, "cdio_open_cue opens disc.cue");
  if (cdio == nullptr)
    return;
  const char* source = cdio_get_arg(cdio, "source");
  check(source != nullptr && std::strcmp(source, "disc.bin") == 0, "its source is disc.bin");
  // The cue sheet's TITLE is ISO-8859-1, which libcdio turns into UTF-8.
  const char* title = cdtext_get_const(cdio_get_cdtext(cdio), CDTEXT_FIELD_TITLE, 0);
  check(title != nullptr && std::strcmp(title, "Caf\xC3\xA9 Pictures") == 0,
        "the TITLE \"Caf\\xE9 Pictures\" reads as UTF-8");
  check(iso9660_fs_read_superblock(cdio, ISO_EXTENSION_ALL), "iso9660_fs_read_superblock");
  const std::vector<Entry> root = entries_of(iso9660_fs_readdir(cdio, "/"));
  std::printf("root: %s\n", names(root).c_str());
  check(same_names(root, {kPictures, kText, kDirectory}), "root lists the three Joliet names");
  const Entry* pictures = find(root, kPictures);
  if (pictures != nullptr) {
    const auto bytes = contents(*pictures, [&](void* out, lsn_t lsn, std::uint32_t sectors) {
      return cdio_read_data_sectors(cdio, out, lsn, ISO_BLOCKSIZE, sectors) == DRIVER_OP_SUCCESS;
    });
    check(bytes == pictures_bytes(), "cdio_read_data_sectors reads the 5000 bytes of the file");
  }
  cdio_destroy(cdio);
}

// libcdio's character set conversions, which go through the small iconv.
void check_charsets() {
  std::puts("--- character sets");
  struct Case {
    const char* charset;
    std::string in;
    const char* out;  // nullptr: the conversion must fail
  };
  std::string long_ucs2;
  std::string long_utf8;
  for (int i = 0; i < 100; ++i)
    long_ucs2 += "\x30\xD4", long_utf8 += "\xE3\x83\x94";
  const Case cases[] = {
      {"UCS-2BE", std::string("\0G\0r\0\xFC\0\xDF\0e", 10),
       "Gr\xC3\xBC\xC3\x9F"
       "e"},
      {"UCS-2BE", long_ucs2, long_utf8.c_str()},  // longer than libcdio's first buffer
      {"UCS-2BE", std::string("\xD8\x3D\xDE\x00", 4), nullptr},  // no surrogates in UCS-2
      {"UTF-16BE", std::string("\xD8\x3D\xDE\x00", 4), "\xF0\x9F\x98\x80"},
      {"UCS-2BE", std::string("\0A\0", 3), nullptr},  // cut-off character
      {"SHIFT_JIS", "\x83\x73\x83\x4E\x83\x60\x83\x83",
       "\xE3\x83\x94\xE3\x82\xAF\xE3\x83\x81\xE3\x83\xA3"},
      {"ISO-8859-1", "Caf\xE9", "Caf\xC3\xA9"},
      {"ASCII", "A\x80", nullptr},
  };
  for (const Case& c : cases) {
    cdio_utf8_t* out = nullptr;
    const bool ok = cdio_charset_to_utf8(c.in.data(), c.in.size(), &out, c.charset);
    const bool right = c.out == nullptr ? !ok : ok && std::strcmp(out, c.out) == 0;
    check(right, std::string(c.charset) + " to UTF-8, " + std::to_string(c.in.size()) +
                     " bytes: " + (c.out == nullptr ? "refused" : "converted"));
    std::free(out);
  }
  char* ucs2 = nullptr;
  int length = 0;
  const bool ok = cdio_charset_from_utf8(const_cast<char*>("Gr\xC3\xBC\xC3\x9F"
                                                           "e"),
                                         &ucs2, &length, "UCS-2BE");
  check(ok && length == 10 && std::memcmp(ucs2, "\0G\0r\0\xFC\0\xDF\0e", 10) == 0,
        "UTF-8 to UCS-2BE");
  std::free(ucs2);
  check(logged(CDIO_LOG_WARN, "Iconv failed"), "refused conversions reach the log handler");
}

// Writes a PNG file with libspng; returns the libspng error (0: none).
int write_png(const char* path, spng_ihdr ihdr, const spng_plte* plte,
              const std::vector<unsigned char>& image) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr)
    return -1;
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  int error = spng_set_png_file(ctx, file);
  if (error == 0)
    error = spng_set_ihdr(ctx, &ihdr);
  if (error == 0 && plte != nullptr)
    error = spng_set_plte(ctx, const_cast<spng_plte*>(plte));
  if (error == 0)
    error = spng_encode_image(ctx, image.data(), image.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  spng_ctx_free(ctx);
  if (std::fclose(file) != 0 && error == 0)
    error = -1;
  return error;
}

struct Png {
  int error = 0;
  spng_ihdr ihdr{};
  spng_plte plte{};
  std::vector<unsigned char> image;  // as stored (SPNG_FMT_PNG)
  std::vector<unsigned char> rgb;    // as 8-bit RGB
};

Png read_png(const char* path) {
  Png png;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    png.error = -1;
    return png;
  }
  spng_ctx* ctx = spng_ctx_new(0);
  std::size_t size = 0;
  png.error = spng_set_png_file(ctx, file);
  if (png.error == 0)
    png.error = spng_get_ihdr(ctx, &png.ihdr);
  if (png.error == 0 && png.ihdr.color_type == SPNG_COLOR_TYPE_INDEXED)
    png.error = spng_get_plte(ctx, &png.plte);
  for (int format : {SPNG_FMT_PNG, SPNG_FMT_RGB8}) {
    auto& out = format == SPNG_FMT_PNG ? png.image : png.rgb;
    if (png.error == 0)
      png.error = spng_decoded_image_size(ctx, format, &size);
    if (png.error != 0)
      break;
    out.resize(size);
    png.error = spng_decode_image(ctx, out.data(), out.size(), format, 0);
    // A second decode needs the file from its start, in a new context.
    spng_ctx_free(ctx);
    std::rewind(file);
    ctx = spng_ctx_new(0);
    if (png.error == 0)
      png.error = spng_set_png_file(ctx, file);
  }
  spng_ctx_free(ctx);
  std::fclose(file);
  return png;
}

void check_png() {
  std::puts("--- PNG files (libspng, zlib)");
  // 4-bit indexed, 5 x 3: two pixels a byte, the last byte of a row half used.
  spng_plte plte{};
  plte.n_entries = 16;
  for (std::uint32_t i = 0; i < 16; ++i)
    plte.entries[i] = {static_cast<std::uint8_t>(i * 17), static_cast<std::uint8_t>(255 - i * 9),
                       static_cast<std::uint8_t>(i * i), 0};
  const unsigned width = 5, height = 3, stride = 3;
  std::vector<unsigned char> packed(stride * height, 0);
  std::vector<unsigned char> expected_rgb;
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      const unsigned index = (x + 5 * y + 3) % 16;
      packed[y * stride + x / 2] |= static_cast<unsigned char>(x % 2 == 0 ? index << 4 : index);
      const spng_plte_entry& color = plte.entries[index];
      expected_rgb.insert(expected_rgb.end(), {color.red, color.green, color.blue});
    }
  spng_ihdr ihdr{width, height, 4, SPNG_COLOR_TYPE_INDEXED, 0, 0, 0};
  int error = write_png("indexed.png", ihdr, &plte, packed);
  check(error == 0, std::string("indexed.png written: ") + spng_strerror(error));
  Png png = read_png("indexed.png");
  check(png.error == 0 && png.ihdr.width == width && png.ihdr.height == height &&
            png.ihdr.bit_depth == 4 && png.ihdr.color_type == SPNG_COLOR_TYPE_INDEXED,
        "indexed.png reads back as 5 x 3, 4-bit indexed");
  bool same_palette = png.plte.n_entries == 16;
  for (std::uint32_t i = 0; same_palette && i < 16; ++i)
    same_palette = std::memcmp(&png.plte.entries[i], &plte.entries[i], 3) == 0;
  check(same_palette, "its 16 palette entries");
  check(png.image == packed && png.rgb == expected_rgb, "its pixels, as indices and as RGB");

  // 24-bit RGB, 4 x 3.
  std::vector<unsigned char> rgb;
  for (unsigned y = 0; y < 3; ++y)
    for (unsigned x = 0; x < 4; ++x)
      rgb.insert(rgb.end(),
                 {static_cast<unsigned char>(x * 60), static_cast<unsigned char>(y * 100),
                  static_cast<unsigned char>(x * y * 37 + 10)});
  ihdr = {4, 3, 8, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0};
  error = write_png("rgb.png", ihdr, nullptr, rgb);
  check(error == 0, std::string("rgb.png written: ") + spng_strerror(error));
  png = read_png("rgb.png");
  check(png.error == 0 && png.ihdr.width == 4 && png.ihdr.height == 3 && png.ihdr.bit_depth == 8 &&
            png.ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && png.rgb == rgb,
        "rgb.png reads back as the same 4 x 3 RGB pixels");
}

}  // namespace

int main() {
  // A zone east of UTC, set here so that the result does not depend on the
  // machine's.
  _putenv("TZ=JST-9");
  _tzset();
  const cdio_log_handler_t previous = cdio_log_set_handler(keep_message);
  check(previous != nullptr && previous != keep_message, "cdio_log_set_handler");
  check_iso();
  check_cue();
  check_charsets();
  check_png();
  std::puts("--- libcdio's messages");
  for (const std::string& message : messages)
    std::printf("%s\n", message.c_str());
  check(!logged(CDIO_LOG_ERROR, "") && !logged(CDIO_LOG_ASSERT, ""), "no error logged");
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
