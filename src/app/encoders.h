// Turning a decoded picture into the bytes of its file: BMP and PNG, two
// encoders behind one interface, and the writing of a file put in place
// whole (platform/output_files.h).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "cgvw/decode.h"
#include "options.h"

namespace app {

// A file's bytes: a header of its own (empty for PNG), then a body that is
// the encoder's own bytes or a span of the picture's. Written in two
// pieces, header and body.
struct EncodedFile {
  std::array<std::uint8_t, 14> header{};
  std::size_t headerSize = 0;
  std::vector<std::uint8_t> owned;
  std::span<const std::uint8_t> body;
};

class Encoder {
 public:
  virtual ~Encoder() = default;
  // Whether the picture can be made into a file of this format at all;
  // asked before the file is created, so a refusal leaves nothing behind.
  virtual bool CanEncode(const cgvw::PictureView& picture, std::string* why) const = 0;
  // The file's bytes, once the file has been created.
  virtual bool Encode(const cgvw::PictureView& picture, EncodedFile* file, std::string* why) = 0;
};

// The BITMAPFILEHEADER of BMP files, one record for every file that the
// encoder writes: updated in place for each file and never reset, so the
// header written is the record as the last file left it.
struct TBmpFileHeader {
  std::uint16_t bfType;  // "BM"
  std::uint32_t bfSize;
  std::uint16_t bfReserved1;
  std::uint16_t bfReserved2;
  std::uint32_t bfOffBits;
};

// BMP files: the record, then the DIB's header, colour table and
// biSizeImage bytes of rows, unchanged. Any picture of 4, 8 or 24 bits that
// fits a BMP file (under 4 GiB) can be written.
class BmpEncoder final : public Encoder {
 public:
  bool CanEncode(const cgvw::PictureView& picture, std::string* why) const override;
  bool Encode(const cgvw::PictureView& picture, EncodedFile* file, std::string* why) override;
  const TBmpFileHeader& record() const { return record_; }

 private:
  TBmpFileHeader record_ = {0x4D42, 0, 0, 0, 54};
};

// PNG files through libspng: palette pictures stay indexed (bit depth 4
// or 8, with their whole colour table), 24-bit pictures are RGB.
class PngEncoder final : public Encoder {
 public:
  bool CanEncode(const cgvw::PictureView& picture, std::string* why) const override;
  bool Encode(const cgvw::PictureView& picture, EncodedFile* file, std::string* why) override;
};

// What writing a picture's file came to.
enum class WriteOutcome {
  kWritten,
  kRefused,       // the encoder refused the picture; nothing was created
  kCreateFailed,  // the file could not be created
  kWriteFailed,   // encoding, a write, the close or the rename failed (or the name may not be
                  // replaced, where only the rename looks); nothing of it was left
};

// Writes `picture` as the file `path`, replacing an earlier file of that
// name in one step: on every failure the earlier file stays as it was.
// `why` receives the reason for a failure.
WriteOutcome WritePictureFile(const std::string& path, const cgvw::PictureView& picture,
                              Encoder& encoder, std::string* why) noexcept;

// The output name of catalogue row `row`, "tvrcg005.bmp", in a buffer of
// its own (naming a file allocates nothing).
struct OutputName {
  OutputName(std::size_t row, OutputFormat format);
  std::string_view view() const { return text; }
  char text[32];
};

}  // namespace app
