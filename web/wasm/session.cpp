// The page's conversion, called from its worker (web/worker.js): one disc
// at a time, opened by path from the files the page mounted, its pictures
// decoded one by one and kept until the next disc, then handed out as RGBA
// pixels for the screen and as the program's BMP or PNG file bytes.
//
// The disc is opened, decoded, checked and its failures worded by the run
// with options' own code (app::OpenDisc, app::TypedDecoder, app::CheckDisc,
// the encoders), whose standard output and standard error reach the worker
// line by line. Every entry returns a status; the bytes and texts it made
// stay in the session until the next call (tv_data, tv_size, tv_text).
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalogue.h"
#include "cgvw/decode.h"
#include "cgvw/disc_image.h"
#include "console.h"
#include "decode_all.h"
#include "decoders.h"
#include "disc.h"
#include "encoders.h"
#include "exit_status.h"
#include "picture_bytes.h"

namespace {

// What the entries return.
enum WebStatus : int {
  kOk = 0,
  kFailed = 1,    // the text says why (the program's standard-error wording)
  kBadCall = 2,   // no disc open, a row out of range, a picture that was not decoded
  kNoMemory = 3,  // the result could not be held
};

struct Session {
  app::Disc disc;
  std::vector<std::unique_ptr<app::DecodedRow>> rows =
      std::vector<std::unique_ptr<app::DecodedRow>>(kPictureRows);
  std::vector<std::uint8_t> data;
  std::uint32_t width = 0;  // of the pixels in `data`
  std::uint32_t height = 0;
  std::string text;
};

Session& session() {
  static Session* const held = new Session;
  return *held;
}

bool ValidRow(int row) {
  return row >= 0 && static_cast<std::size_t>(row) < kPictureRows;
}

// The decoded picture of a row; null when the row was not decoded.
const cgvw::PictureView* Decoded(int row) {
  if (!ValidRow(row) || !session().rows[row] || !session().rows[row]->picture) {
    return nullptr;
  }
  return &*session().rows[row]->picture;
}

void Forget(Session& s) {
  for (auto& row : s.rows) {
    row.reset();
  }
  s.disc = {};
  s.data = {};
}

}  // namespace

extern "C" {

// The rows of the catalogue.
EMSCRIPTEN_KEEPALIVE int tv_rows() {
  return static_cast<int>(kPictureRows);
}

// The catalogue's descriptor flags of a row (kind and depth), or -1.
EMSCRIPTEN_KEEPALIVE int tv_flags(int row) {
  return ValidRow(row) ? static_cast<int>(Catalogue[row].Image.Flags) : -1;
}

// The catalogue's label of a row (Shift-JIS bytes), into tv_data.
EMSCRIPTEN_KEEPALIVE int tv_category(int row) {
  if (!ValidRow(row)) {
    return kBadCall;
  }
  const std::string_view label = Catalogue[row].Category;
  Session& s = session();
  s.data.assign(label.begin(), label.end());
  return kOk;
}

// The byte ranges that the catalogue's pictures read, one line each into
// tv_text: "row<TAB>name<TAB>offset<TAB>size". What the worker reads ahead
// of a folder's decoding.
EMSCRIPTEN_KEEPALIVE int tv_source_ranges() {
  std::string lines;
  try {
    for (std::size_t row = 0; row < kPictureRows; ++row) {
      for (const cgvw::SourceRange& range : cgvw::RangesOf(Catalogue[row].Image)) {
        lines += std::to_string(row) + '\t' + range.file + '\t' + std::to_string(range.offset) +
                 '\t' + std::to_string(range.size) + '\n';
      }
    }
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  session().text = std::move(lines);
  return kOk;
}

// Reads, and forgets, the byte ranges that decoding `row` reads from the
// open disc (its files' ranges, or the sectors of an image behind them):
// the worker watches which parts of the page's files these reads touch, so
// that it fetches them all at once, ahead of the decoding.
EMSCRIPTEN_KEEPALIVE int tv_touch(int row) {
  Session& s = session();
  if (!ValidRow(row) || !s.disc.source) {
    return kBadCall;
  }
  try {
    std::vector<std::uint8_t> buffer;
    for (const cgvw::SourceRange& range : cgvw::RangesOf(Catalogue[row].Image)) {
      buffer.resize(range.size);  // the catalogue's own sizes, not the disc's
      static_cast<void>(s.disc.source->Read(range.file, range.offset, buffer));
    }
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  return kOk;
}

// Which of the mounted files (their paths, one a line) are discs, told from
// their bytes as the library tells them (cgvw::FindDiscImages): their paths
// into tv_text, one a line. Returns how many: 0 when the files are a
// folder's, more than 1 when several discs were given.
EMSCRIPTEN_KEEPALIVE int tv_find_discs(const char* paths) {
  try {
    std::vector<std::string> files;
    for (std::string_view rest = paths; !rest.empty();) {
      const std::size_t end = std::min(rest.size(), rest.find('\n'));
      files.emplace_back(rest.substr(0, end));
      rest.remove_prefix(std::min(rest.size(), end + 1));
    }
    const std::vector<std::string> discs = cgvw::FindDiscImages(files);
    std::string lines;
    for (const std::string& disc : discs) {
      lines += disc + '\n';
    }
    session().text = std::move(lines);
    return static_cast<int>(discs.size());
  } catch (const std::bad_alloc&) {
    session().text.clear();
    return 0;
  }
}

// Opens the disc at `path` (a folder, or an image file) as --image does,
// forgetting the earlier one; a failure's complaint goes to standard error.
EMSCRIPTEN_KEEPALIVE int tv_open(const char* path) {
  Session& s = session();
  Forget(s);
  app::Options options;
  options.image = path;
  options.only.set();
  return app::OpenDisc(options, &s.disc) == app::kExitOk ? kOk : kFailed;
}

// Forgets the disc and its pictures (the files behind it may then go).
EMSCRIPTEN_KEEPALIVE void tv_close() {
  Forget(session());
}

// Decodes one picture of the open disc as the run with options does. A
// failure's text is the line that run writes on standard error for it
// ("tvrcgcv: tvrcg005.bmp: ...").
EMSCRIPTEN_KEEPALIVE int tv_decode(int row) {
  Session& s = session();
  if (!ValidRow(row) || !s.disc.source) {
    return kBadCall;
  }
  s.rows[row].reset();
  try {
    auto decoded = std::make_unique<app::DecodedRow>();
    app::TypedDecoder(s.disc).Decode(static_cast<std::size_t>(row), decoded.get());
    const app::OutputName name(static_cast<std::size_t>(row), app::OutputFormat::kBmp);
    if (decoded->failure != app::RowFailure::kNone || !decoded->picture) {
      s.text = "tvrcgcv: " + std::string(name.view()) + ": " + decoded->why;
      return kFailed;
    }
    s.rows[row] = std::move(decoded);
    return kOk;
  } catch (const std::bad_alloc&) {
    s.text = "tvrcgcv: out of memory";
    return kFailed;
  }
}

// Whether a row's picture was decoded.
EMSCRIPTEN_KEEPALIVE int tv_decoded(int row) {
  return Decoded(row) != nullptr;
}

// A decoded picture as RGBA pixels from the top row down, into tv_data,
// made smaller to `longest` pixels a side (0: its own size); their size
// then comes from tv_width and tv_height.
EMSCRIPTEN_KEEPALIVE int tv_rgba(int row, int longest) {
  Session& s = session();
  const cgvw::PictureView* picture = Decoded(row);
  if (picture == nullptr || longest < 0) {
    return kBadCall;
  }
  return web::RgbaPixels(*picture, static_cast<std::uint32_t>(longest), &s.data, &s.width,
                         &s.height)
             ? kOk
             : kNoMemory;
}
EMSCRIPTEN_KEEPALIVE int tv_width() {
  return static_cast<int>(session().width);
}
EMSCRIPTEN_KEEPALIVE int tv_height() {
  return static_cast<int>(session().height);
}

// A decoded picture as the program's file, BMP (png 0) or PNG (png 1), into
// tv_data; a failure's text says why.
EMSCRIPTEN_KEEPALIVE int tv_file(int row, int png) {
  Session& s = session();
  const cgvw::PictureView* picture = Decoded(row);
  if (picture == nullptr) {
    return kBadCall;
  }
  return web::FileBytes(*picture, png != 0 ? app::OutputFormat::kPng : app::OutputFormat::kBmp,
                        &s.data, &s.text)
             ? kOk
             : kFailed;
}

// Checks the open disc as --check does: its lines go to standard output,
// its complaints to standard error. Returns the run's exit status.
EMSCRIPTEN_KEEPALIVE int tv_check() {
  Session& s = session();
  if (!s.disc.source) {
    return app::kExitUsage;
  }
  app::Options options;
  options.check = true;
  options.only.set();
  return app::CheckDisc(options, s.disc, app::Console(false));
}

// Every picture decoded from memory, `passes` times per sample: the sources
// are read from the open disc first. The median and fastest pass in
// milliseconds and the failures go to tv_text as "median min failed".
EMSCRIPTEN_KEEPALIVE int tv_bench(int samples, int passes) {
  Session& s = session();
  if (!s.disc.source || samples < 1 || passes < 1) {
    return kBadCall;
  }
  const bench::SourceBytes bytes = bench::ReadCatalogueSources(*s.disc.source);
  const bench::DecodeTiming timing = bench::TimeDecodeAll(bytes, samples, passes);
  s.text = std::to_string(timing.medianMs) + " " + std::to_string(timing.minMs) + " " +
           std::to_string(timing.failed + bytes.failed);
  return kOk;
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* tv_data() {
  return session().data.data();
}
EMSCRIPTEN_KEEPALIVE int tv_size() {
  return static_cast<int>(session().data.size());
}
EMSCRIPTEN_KEEPALIVE const char* tv_text() {
  return session().text.c_str();
}

}  // extern "C"
