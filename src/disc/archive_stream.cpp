// libarchive over the program's own bytes (archive_stream.h).
#include "archive_stream.h"

#include <archive.h>
#include <archive_entry.h>
#if !defined(_WIN32)
#include <locale.h>
#endif

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <string_view>
#include <vector>

#include "dumps.h"
#include "loaded_library.h"

namespace cgvw::disc {
namespace {

// The functions of libarchive used here (loaded_library.h).
#define TVRCGCV_ARCHIVE_FUNCTIONS(X)  \
  X(archive_read_new)                 \
  X(archive_read_free)                \
  X(archive_read_support_format_zip)  \
  X(archive_read_support_format_7zip) \
  X(archive_read_set_seek_callback)   \
  X(archive_read_open2)               \
  X(archive_read_next_header)         \
  X(archive_read_data)                \
  X(archive_error_string)             \
  X(archive_set_error)                \
  X(archive_entry_pathname_utf8)      \
  X(archive_entry_pathname)           \
  X(archive_entry_size_is_set)        \
  X(archive_entry_size)               \
  X(archive_entry_is_data_encrypted)  \
  X(archive_entry_filetype)

struct Libarchive {
#define TVRCGCV_FIELD(name) decltype(&::name) name = nullptr;
  TVRCGCV_ARCHIVE_FUNCTIONS(TVRCGCV_FIELD)
#undef TVRCGCV_FIELD
  std::string missing;  // why libarchive cannot be used
};

Libarchive Load() {
  Libarchive functions;
#if TVRCGCV_ARCHIVES_LOADED
  LoadedLibrary library(TVRCGCV_SONAME_ARCHIVE);
#define TVRCGCV_FIND(name) library.Find(#name, &functions.name);
  TVRCGCV_ARCHIVE_FUNCTIONS(TVRCGCV_FIND)
#undef TVRCGCV_FIND
  functions.missing = library.missing();
#else
#define TVRCGCV_LINK(name) functions.name = &::name;
  TVRCGCV_ARCHIVE_FUNCTIONS(TVRCGCV_LINK)
#undef TVRCGCV_LINK
#endif
  return functions;
}

const Libarchive& Lib() {
  static const Libarchive functions = Load();
  return functions;
}

class MemberCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "tvrcgcv archive member"; }
  std::string message(int condition) const override {
    switch (static_cast<MemberFault>(condition)) {
      case MemberFault::kCutShort:
        return "the archive member is cut short";
      case MemberFault::kDamaged:
        return "the archive member is damaged (its data does not decompress or fails its check)";
      case MemberFault::kEncrypted:
        return "the archive member is encrypted, which is not read: unpack it with its password";
      case MemberFault::kUnsupported:
        return "the archive member is compressed in a way that is not read: unpack it";
    }
    return "the archive member cannot be read";
  }
};

// The archive's bytes are handed over in pieces of this size.
constexpr std::size_t kFeedBytes = 64 << 10;

bool Mentions(const char* text, std::string_view word) {
  return text != nullptr && std::string_view(text).find(word) != std::string_view::npos;
}

#if !defined(_WIN32)
// libarchive gives member names through the calling thread's character
// set (LC_CTYPE): a 7z's names (UTF-16 in the archive) and a zip's names
// flagged as UTF-8 come out only where that set can hold them, and a
// program that never chose a locale runs in the C locale, which holds
// ASCII alone (a name in Japanese came out empty). The calls that read
// names therefore run in a UTF-8 locale of the calling thread's own, and
// the thread's locale is given back after; the process's is never
// touched. Where no UTF-8 locale exists, names are read as before.
// The UTF-8 locale, made once and kept (never changed) for the process's
// life; none where the system has none.
locale_t Utf8Locale() {
  static const locale_t utf8 = [] {
    locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (made == static_cast<locale_t>(nullptr)) {
      made = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
    }
    return made;
  }();
  return utf8;
}

class Utf8Names {
 public:
  Utf8Names() {
    if (const locale_t utf8 = Utf8Locale(); utf8 != static_cast<locale_t>(nullptr)) {
      previous_ = uselocale(utf8);
    }
  }
  ~Utf8Names() {
    if (previous_ != static_cast<locale_t>(nullptr)) {
      uselocale(previous_);
    }
  }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(nullptr);
};
#else
// libarchive reads names into wide strings on Windows, whatever the locale.
struct Utf8Names {};
#endif

}  // namespace

std::error_code MakeError(MemberFault fault) {
  static const MemberCategory category;
  return {static_cast<int>(fault), category};
}

// Whether the archive is a 7z whose list of members lies (in part) beyond
// its end, as in a download cut short: its first 32 bytes are the
// signature, the version (2 bytes), a CRC-32, then the list's offset from
// byte 32 and its size (8 bytes each, little-endian).
bool ListBeyondEnd(ByteSource& bytes) {
  std::array<std::uint8_t, 32> head{};
  static constexpr std::array<std::uint8_t, 6> kSignature = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  const ByteRead read = bytes.ReadAt(0, head);
  if (read.error || read.got < head.size() ||
      !std::equal(kSignature.begin(), kSignature.end(), head.begin())) {
    return false;
  }
  const std::uint64_t offset = LittleEndian(head, 12, 8);
  const std::uint64_t size = LittleEndian(head, 20, 8);
  const std::uint64_t left = bytes.size() > head.size() ? bytes.size() - head.size() : 0;
  return offset > left || size > left - offset;
}

// Where libarchive stands in the archive's bytes, and the reason a read of
// them failed.
struct ArchiveStream::Feed {
  ByteSource& bytes;
  std::uint64_t at = 0;
  std::vector<std::uint8_t> buffer;
  std::error_code error;
  bool ended = false;  // libarchive asked for bytes past the archive's end

  static la_ssize_t Read(::archive* archive, void* data, const void** buffer) {
    auto& feed = *static_cast<Feed*>(data);
    const ByteRead read = feed.bytes.ReadAt(feed.at, feed.buffer);
    if (read.error) {
      feed.error = read.error;
      Lib().archive_set_error(archive, EIO, "%s", read.error.message().c_str());
      return ARCHIVE_FATAL;
    }
    feed.at += read.got;
    feed.ended = feed.ended || read.got == 0;
    *buffer = feed.buffer.data();
    return static_cast<la_ssize_t>(read.got);
  }

  static la_int64_t Skip(::archive* /*archive*/, void* data, la_int64_t request) {
    auto& feed = *static_cast<Feed*>(data);
    const std::uint64_t skipped = SkipWithin(feed.at, feed.bytes.size(), request);
    feed.at += skipped;
    return static_cast<la_int64_t>(skipped);
  }

  static la_int64_t Seek(::archive* /*archive*/, void* data, la_int64_t offset, int whence) {
    auto& feed = *static_cast<Feed*>(data);
    const std::optional<std::uint64_t> to = SeekWithin(feed.at, feed.bytes.size(), offset, whence);
    if (!to) {
      return ARCHIVE_FATAL;
    }
    feed.at = *to;
    return static_cast<la_int64_t>(feed.at);
  }
};

std::uint64_t SkipWithin(std::uint64_t at, std::uint64_t size, std::int64_t request) {
  const std::uint64_t left = at < size ? size - at : 0;
  return std::min<std::uint64_t>(left,
                                 static_cast<std::uint64_t>(std::max<std::int64_t>(request, 0)));
}

std::optional<std::uint64_t> SeekWithin(std::uint64_t at, std::uint64_t size, std::int64_t offset,
                                        int whence) {
  const auto bytes = static_cast<std::int64_t>(
      std::min<std::uint64_t>(size, std::numeric_limits<std::int64_t>::max() / 2));
  std::int64_t from = 0;
  if (whence == SEEK_CUR) {
    from = static_cast<std::int64_t>(at);
  } else if (whence == SEEK_END) {
    from = bytes;
  }
  if (offset < -from || offset > bytes - from) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(from + offset);
}

ArchiveStream::ArchiveStream(ByteSource& bytes)
    : feed_(std::make_unique<Feed>(
          Feed{bytes, 0, std::vector<std::uint8_t>(kFeedBytes), {}, false})) {}

ArchiveStream::~ArchiveStream() {
  if (archive_ != nullptr) {
    Lib().archive_read_free(archive_);
  }
}

bool ArchiveStream::Open(std::error_code* error, std::string* why) {
  if (!Lib().missing.empty()) {
    *error = std::make_error_code(std::errc::not_supported);
    *why = Lib().missing;
    return false;
  }
  [[maybe_unused]] const Utf8Names names;
  archive_ = Lib().archive_read_new();
  if (archive_ == nullptr) {
    *error = std::make_error_code(std::errc::not_enough_memory);
    *why = error->message();
    return false;
  }
  // Zip (from its central directory, or member by member where that is
  // lost) and 7z; nothing else.
  if (Lib().archive_read_support_format_zip(archive_) != ARCHIVE_OK ||
      Lib().archive_read_support_format_7zip(archive_) != ARCHIVE_OK ||
      Lib().archive_read_set_seek_callback(archive_, Feed::Seek) != ARCHIVE_OK ||
      Lib().archive_read_open2(archive_, feed_.get(), nullptr, Feed::Read, Feed::Skip, nullptr) !=
          ARCHIVE_OK) {
    *error = feed_->error ? feed_->error : std::make_error_code(std::errc::io_error);
    *why = Why(*error);
    return false;
  }
  return true;
}

int ArchiveStream::Next(MemberEntry* entry, std::error_code* error, std::string* why) {
  [[maybe_unused]] const Utf8Names names;
  archive_entry* header = nullptr;
  const int status = Lib().archive_read_next_header(archive_, &header);
  if (status == ARCHIVE_EOF) {
    return 0;
  }
  if (status < ARCHIVE_WARN || header == nullptr) {
    *error = Fault(false);
    *why = Why(*error);
    if (*error == MakeError(MemberFault::kDamaged) && ListBeyondEnd(feed_->bytes)) {
      *error = MakeError(MemberFault::kCutShort);
      *why = "it is cut short (its list of members lies beyond its end)";
    }
    return -1;
  }
  const char* path = Lib().archive_entry_pathname_utf8(header);
  if (path == nullptr) {
    path = Lib().archive_entry_pathname(header);
  }
  entry->path = path != nullptr ? path : "";
  entry->sizeKnown =
      Lib().archive_entry_size_is_set(header) != 0 && Lib().archive_entry_size(header) >= 0;
  entry->size = entry->sizeKnown ? static_cast<std::uint64_t>(Lib().archive_entry_size(header)) : 0;
  entry->encrypted = Lib().archive_entry_is_data_encrypted(header) != 0;
  entry->regular = Lib().archive_entry_filetype(header) == AE_IFREG;
  encrypted_ = entry->encrypted;
  return 1;
}

std::string ArchiveStream::Why(const std::error_code& error) const {
  // A failed read of the archive's bytes is said as such: libarchive then
  // says what it makes of the bytes it did not get ("truncated", "not an
  // archive").
  const char* text = Lib().archive_error_string(archive_);
  return feed_->error || text == nullptr ? error.message() : text;
}

std::error_code ArchiveStream::Fault(bool encrypted) const {
  if (feed_->error) {
    return feed_->error;
  }
  const char* text = Lib().archive_error_string(archive_);
  if (encrypted || Mentions(text, "ncrypt") || Mentions(text, "assphrase")) {
    return MakeError(MemberFault::kEncrypted);
  }
  // Data that stops where the archive's bytes do: the archive is cut short.
  if (feed_->ended || Mentions(text, "runcated") || Mentions(text, "remature")) {
    return MakeError(MemberFault::kCutShort);
  }
  if (Mentions(text, "nsupported") || Mentions(text, "not supported")) {
    return MakeError(MemberFault::kUnsupported);
  }
  return MakeError(MemberFault::kDamaged);
}

ByteRead ArchiveStream::Read(std::span<std::uint8_t> dest) {
  ByteRead read;
  while (read.got < dest.size()) {
    const la_ssize_t got =
        Lib().archive_read_data(archive_, dest.data() + read.got, dest.size() - read.got);
    if (got < 0) {
      read.error = Fault(encrypted_);
      return read;
    }
    if (got == 0) {
      break;
    }
    read.got += static_cast<std::size_t>(got);
  }
  return read;
}

}  // namespace cgvw::disc
