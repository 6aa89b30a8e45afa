// The codecs of CHD hunks (chd_codecs.h).
#include "chd_codecs.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "chd.h"
#include "chd_libraries.h"
#include "dumps.h"
#include "raw_sectors.h"

namespace cgvw::disc::chd {
namespace {

constexpr std::uint32_t kCdLzma = Tag("cdlz");
constexpr std::uint32_t kCdDeflate = Tag("cdzl");
constexpr std::uint32_t kCdFlac = Tag("cdfl");
constexpr std::uint32_t kCdZstd = Tag("cdzs");
constexpr std::uint32_t kDeflate = Tag("zlib");
constexpr std::uint32_t kLzma = Tag("lzma");
constexpr std::uint32_t kZstd = Tag("zstd");
constexpr std::size_t kSubcodeBytes = 96;

std::optional<std::string> Inflate(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  z_stream stream{};
  if (Lib().inflateInit2_(&stream, -MAX_WBITS, ZLIB_VERSION, static_cast<int>(sizeof stream)) !=
      Z_OK) {
    return std::string("deflate: out of memory");
  }
  // Hunks are far smaller than 4 GiB (chd.h: kMostHunkBytes).
  stream.next_in = const_cast<Bytef*>(in.data());
  stream.avail_in = static_cast<uInt>(in.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = Lib().inflate(&stream, Z_FINISH);
  const bool whole =
      stream.avail_out == 0 && (result == Z_STREAM_END || result == Z_OK || result == Z_BUF_ERROR);
  Lib().inflateEnd(&stream);
  if (!whole) {
    return std::string("its deflate data are damaged");
  }
  return std::nullopt;
}

// LZMA's dictionary for a hunk of `bytes` bytes, as the encoder chose it.
std::uint32_t LzmaDictionary(std::uint32_t bytes) {
  for (unsigned shift = 11; shift <= 30; ++shift) {
    if (bytes <= (2u << shift)) {
      return 2u << shift;
    }
    if (bytes <= (3u << shift)) {
      return 3u << shift;
    }
  }
  return 1u << 26;
}

std::optional<std::string> Unlzma(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  lzma_options_lzma options{};
  if (Lib().lzma_lzma_preset(&options, 9) != 0) {
    return std::string("lzma: no options");
  }
  options.dict_size = std::min<std::uint32_t>(
      options.dict_size, LzmaDictionary(static_cast<std::uint32_t>(out.size())));
  options.lc = 3;
  options.lp = 0;
  options.pb = 2;
  const std::array<lzma_filter, 2> filters = {
      lzma_filter{LZMA_FILTER_LZMA1, &options},
      lzma_filter{LZMA_VLI_UNKNOWN, nullptr},
  };
  lzma_stream stream = LZMA_STREAM_INIT;
  if (Lib().lzma_raw_decoder(&stream, filters.data()) != LZMA_OK) {
    return std::string("lzma: out of memory");
  }
  stream.next_in = in.data();
  stream.avail_in = in.size();
  stream.next_out = out.data();
  stream.avail_out = out.size();
  lzma_ret result = LZMA_OK;
  while (stream.avail_out > 0 && result == LZMA_OK) {
    const std::size_t before = stream.avail_in + stream.avail_out;
    result = Lib().lzma_code(&stream, stream.avail_in > 0 ? LZMA_RUN : LZMA_FINISH);
    if (stream.avail_in + stream.avail_out == before && result == LZMA_OK) {
      break;  // no progress: the data end early
    }
  }
  const bool whole = stream.avail_out == 0 && (result == LZMA_OK || result == LZMA_STREAM_END);
  Lib().lzma_end(&stream);
  if (!whole) {
    return std::string("its LZMA data are damaged");
  }
  return std::nullopt;
}

#if TVRCGCV_CHD_ZSTD
std::optional<std::string> Unzstd(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  const std::size_t got = Lib().ZSTD_decompress(out.data(), out.size(), in.data(), in.size());
  if (Lib().ZSTD_isError(got) || got != out.size()) {
    return std::string("its zstd data are damaged");
  }
  return std::nullopt;
}
#endif

// FLAC frames without a stream header, decoded by libFLAC after a header
// made for them: 2 channels of 16-bit samples at 44.1 kHz.
class FlacFrames {
 public:
  FlacFrames(std::span<const std::uint8_t> frames, std::span<std::uint8_t> out)
      : frames_(frames), out_(out) {
    std::uint32_t block = static_cast<std::uint32_t>(out.size() / 4);
    while (block > 2048) {
      block /= 2;
    }
    block = std::max<std::uint32_t>(block, 16);
    // "fLaC", the last metadata block (STREAMINFO, 34 bytes).
    std::memcpy(header_.data(), "fLaC\x80\x00\x00\x22", 8);
    std::uint8_t* info = header_.data() + 8;
    info[0] = static_cast<std::uint8_t>(block >> 8);
    info[1] = static_cast<std::uint8_t>(block);
    info[2] = info[0];
    info[3] = info[1];
    // Frame sizes unknown (0); 44100 Hz (20 bits), 2 channels - 1 (3 bits),
    // 16 bits - 1 (5 bits), samples unknown (36 bits); no MD5.
    constexpr std::uint64_t kRate = 44100;
    const std::uint64_t packed = kRate << 44 | std::uint64_t{1} << 41 | std::uint64_t{15} << 36;
    for (int i = 0; i < 8; ++i) {
      info[10 + i] = static_cast<std::uint8_t>(packed >> (56 - 8 * i));
    }
  }

  // The bytes of the frames used, or what is wrong.
  std::optional<std::string> Decode(std::size_t* used) {
    const Libraries& lib = Lib();
    std::unique_ptr<FLAC__StreamDecoder, void (*)(FLAC__StreamDecoder*)> decoder(
        lib.FLAC__stream_decoder_new(), lib.FLAC__stream_decoder_delete);
    if (!decoder || lib.FLAC__stream_decoder_init_stream(
                        decoder.get(), ReadBytes, nullptr, Tell, nullptr, nullptr, WriteSamples,
                        nullptr, Error, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
      return std::string("FLAC: out of memory");
    }
    if (!lib.FLAC__stream_decoder_process_until_end_of_metadata(decoder.get())) {
      return std::string("its FLAC data are damaged");
    }
    while (written_ < out_.size()) {
      if (!lib.FLAC__stream_decoder_process_single(decoder.get()) || failed_ ||
          lib.FLAC__stream_decoder_get_state(decoder.get()) == FLAC__STREAM_DECODER_END_OF_STREAM) {
        return std::string("its FLAC data are damaged");
      }
    }
    FLAC__uint64 position = 0;
    if (!lib.FLAC__stream_decoder_get_decode_position(decoder.get(), &position) ||
        position < header_.size() || position - header_.size() > frames_.size()) {
      return std::string("its FLAC data are damaged");
    }
    *used = static_cast<std::size_t>(position - header_.size());
    return std::nullopt;
  }

 private:
  static FLAC__StreamDecoderReadStatus ReadBytes(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                 std::size_t* bytes, void* data) {
    auto* self = static_cast<FlacFrames*>(data);
    const std::size_t total = self->header_.size() + self->frames_.size();
    if (self->position_ >= total) {
      *bytes = 0;
      return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    std::size_t given = 0;
    while (given < *bytes && self->position_ < total) {
      const std::size_t at = self->position_;
      if (at < self->header_.size()) {
        const std::size_t n = std::min(*bytes - given, self->header_.size() - at);
        std::memcpy(buffer + given, &self->header_[at], n);
        given += n;
        self->position_ += n;
      } else {
        const std::size_t from = at - self->header_.size();
        const std::size_t n = std::min(*bytes - given, self->frames_.size() - from);
        std::memcpy(buffer + given, &self->frames_[from], n);
        given += n;
        self->position_ += n;
      }
    }
    *bytes = given;
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }
  static FLAC__StreamDecoderTellStatus Tell(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                            void* data) {
    *offset = static_cast<FlacFrames*>(data)->position_;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
  }
  static FLAC__StreamDecoderWriteStatus WriteSamples(const FLAC__StreamDecoder*,
                                                     const FLAC__Frame* frame,
                                                     const FLAC__int32* const buffer[],
                                                     void* data) {
    auto* self = static_cast<FlacFrames*>(data);
    if (frame->header.channels != 2 || frame->header.bits_per_sample != 16 ||
        std::size_t{frame->header.blocksize} * 4 > self->out_.size() - self->written_) {
      self->failed_ = true;
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    std::uint8_t* out = self->out_.data() + self->written_;
    for (unsigned i = 0; i < frame->header.blocksize; ++i) {
      for (unsigned channel = 0; channel < 2; ++channel) {
        const auto sample = static_cast<std::uint16_t>(buffer[channel][i]);
        *out++ = static_cast<std::uint8_t>(sample >> 8);
        *out++ = static_cast<std::uint8_t>(sample);
      }
    }
    self->written_ += std::size_t{frame->header.blocksize} * 4;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
    static_cast<FlacFrames*>(data)->failed_ = true;
  }

  std::span<const std::uint8_t> frames_;
  std::span<std::uint8_t> out_;
  std::array<std::uint8_t, 42> header_{};
  std::size_t position_ = 0;
  std::size_t written_ = 0;
  bool failed_ = false;
};

// Puts a hunk's sector data and subcode back into frames.
void Interleave(std::span<std::uint8_t> out, const CodecScratch& scratch, std::size_t frames) {
  for (std::size_t f = 0; f < frames; ++f) {
    std::memcpy(&out[f * kFrameBytes], &scratch.sectors[f * kRawBytes], kRawBytes);
    std::memcpy(&out[f * kFrameBytes + kRawBytes], &scratch.subcode[f * kSubcodeBytes],
                kSubcodeBytes);
  }
}

using Codec = std::optional<std::string> (*)(std::span<const std::uint8_t>,
                                             std::span<std::uint8_t>);

std::optional<std::string> CdCodec(Codec sectorCodec, Codec subcodeCodec,
                                   std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                                   CodecScratch* scratch) {
  const std::size_t frames = out.size() / kFrameBytes;
  const std::size_t eccBytes = (frames + 7) / 8;
  const std::size_t lengthBytes = out.size() < 65536 ? 2 : 3;
  if (in.size() < eccBytes + lengthBytes) {
    return std::string("is shorter than its own header");
  }
  const std::uint64_t sectorBytes = BigEndian(in, eccBytes, lengthBytes);
  const std::size_t start = eccBytes + lengthBytes;
  if (sectorBytes > in.size() - start) {
    return std::string("gives its sector data more bytes than it holds");
  }
  if (auto wrong =
          sectorCodec(in.subspan(start, static_cast<std::size_t>(sectorBytes)), scratch->sectors)) {
    return wrong;
  }
  if (auto wrong = subcodeCodec(in.subspan(start + static_cast<std::size_t>(sectorBytes)),
                                scratch->subcode)) {
    return wrong;
  }
  Interleave(out, *scratch, frames);
  static constexpr std::array<std::uint8_t, 12> kSync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  for (std::size_t f = 0; f < frames; ++f) {
    if ((in[f / 8] >> (f % 8)) & 1) {
      const std::span<std::uint8_t, kRawBytes> sector(&out[f * kFrameBytes], kRawBytes);
      std::copy(kSync.begin(), kSync.end(), sector.begin());
      WriteEcc(sector);
    }
  }
  return std::nullopt;
}

}  // namespace

bool CodecsReady(std::string* why) {
  const std::string& missing = Lib().missing;
  if (!missing.empty()) {
    *why = missing;
    return false;
  }
  return true;
}

bool CodecRead(std::uint32_t tag) {
  switch (tag) {
    case kCdLzma:
    case kCdDeflate:
    case kCdFlac:
    case kDeflate:
    case kLzma:
      return true;
#if TVRCGCV_CHD_ZSTD
    case kCdZstd:
    case kZstd:
      return true;
#endif
    default:
      return false;
  }
}

std::optional<std::string> Decompress(std::uint32_t tag, std::span<const std::uint8_t> in,
                                      std::span<std::uint8_t> out, CodecScratch* scratch) {
  const std::size_t frames = out.size() / kFrameBytes;
  scratch->sectors.resize(frames * kRawBytes);
  scratch->subcode.resize(frames * kSubcodeBytes);
  switch (tag) {
    case kDeflate:
      return Inflate(in, out);
    case kLzma:
      return Unlzma(in, out);
    case kCdDeflate:
      return CdCodec(Inflate, Inflate, in, out, scratch);
    case kCdLzma:
      return CdCodec(Unlzma, Inflate, in, out, scratch);
#if TVRCGCV_CHD_ZSTD
    case kZstd:
      return Unzstd(in, out);
    case kCdZstd:
      return CdCodec(Unzstd, Unzstd, in, out, scratch);
#endif
    case kCdFlac: {
      FlacFrames flac(in, scratch->sectors);
      std::size_t used = 0;
      if (auto wrong = flac.Decode(&used)) {
        return wrong;
      }
      if (auto wrong = Inflate(in.subspan(used), scratch->subcode)) {
        return wrong;
      }
      Interleave(out, *scratch, frames);
      return std::nullopt;
    }
    default:
      return "is compressed with " + TagName(tag) + ", which this build does not read";
  }
}

}  // namespace cgvw::disc::chd
