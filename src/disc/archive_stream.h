// Zip and 7z archives read through libarchive, over bytes the program has
// opened itself (bytes.h): libarchive asks for the archive's bytes through
// read, skip and seek callbacks, and hands over each member's data in one
// forward pass. Nothing is unpacked anywhere.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>

#include "bytes.h"

struct archive;

namespace cgvw::disc {

// Why a member's data could not be read, as an error code: its text names
// what is wrong with the member.
enum class MemberFault {
  kCutShort = 1,  // its data ends before its recorded size (the archive is cut short)
  kDamaged,       // its data does not decompress, or fails its check
  kEncrypted,     // its data is encrypted
  kUnsupported,   // stored in a way libarchive does not read
};
std::error_code MakeError(MemberFault fault);

// Where libarchive's moves through the archive's `size` bytes from `at`
// land: a skip of `request` bytes stops at the end (the bytes skipped); a
// seek (whence as for fseek) outside the bytes is refused.
std::uint64_t SkipWithin(std::uint64_t at, std::uint64_t size, std::int64_t request);
std::optional<std::uint64_t> SeekWithin(std::uint64_t at, std::uint64_t size, std::int64_t offset,
                                        int whence);

// A member of an archive as the archive lists it.
struct MemberEntry {
  std::string path;  // its path inside the archive, '/' between folders
  std::uint64_t size = 0;
  bool sizeKnown = false;
  bool encrypted = false;
  bool regular = true;  // false for a folder, a link, ...
};

// One pass through an archive: its members in order, each member's data
// from its start on.
class ArchiveStream {
 public:
  // The archive's bytes, which must outlive the stream.
  explicit ArchiveStream(ByteSource& bytes);
  ~ArchiveStream();
  ArchiveStream(const ArchiveStream&) = delete;
  ArchiveStream& operator=(const ArchiveStream&) = delete;

  // Reads the archive's first bytes; false, with what is wrong in words
  // (and the system's reason, if it is one), if it is no archive read here.
  bool Open(std::error_code* error, std::string* why);
  // The next member: 1, 0 when there are no more, -1 on an error (`error`
  // and `why` say what).
  int Next(MemberEntry* entry, std::error_code* error, std::string* why);
  // The current member's next bytes, in order: `got` counts those placed;
  // fewer than asked, without an error, at its end.
  ByteRead Read(std::span<std::uint8_t> dest);

 private:
  struct Feed;
  std::error_code Fault(bool encrypted) const;
  // What to say of a failure whose error is `error`.
  std::string Why(const std::error_code& error) const;

  std::unique_ptr<Feed> feed_;
  ::archive* archive_ = nullptr;
  bool encrypted_ = false;  // the current member's
};

}  // namespace cgvw::disc
