// CHD files of CD-ROMs (chd.h) as a layout: the header, map and track
// metadata are read when the file is opened; a hunk is read and
// decompressed when a sector in it is first needed, and the last few hunks
// are kept, so that reading a track from start to end decompresses each
// hunk once.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "chd.h"
#include "chd_codecs.h"
#include "containers.h"
#include "dumps.h"
#include "messages.h"
#include "platform/folder_files.h"

namespace cgvw::disc {
namespace {

using chd::HunkKind;
using chd::kFrameBytes;

// The largest compressed map read (a CD's is some hundreds of kilobytes).
constexpr std::uint64_t kMostMapBytes = 64u << 20;
// The hunks kept, and the bytes they may take together.
constexpr std::size_t kKeptHunks = 8;
constexpr std::size_t kKeptBytes = 32u << 20;

// Why a hunk could not be read, for the message of the sectors in it.
struct HunkFailure {
  std::uint64_t hunk = 0;
  std::string why;
};

// The disc's frames as the file's hunks hold them, decompressed.
class ChdBytes final : public ByteSource {
 public:
  ChdBytes(std::unique_ptr<ByteSource> file, const chd::Header& header,
           std::vector<chd::MapEntry> map)
      : file_(std::move(file)), header_(header), map_(std::move(map)) {
    kept_ = std::clamp<std::size_t>(kKeptBytes / header.hunkBytes, 2, kKeptHunks);
  }

  std::uint64_t size() const override { return header_.logicalBytes; }
  const std::string& name() const override { return file_->name(); }

  ByteRead ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) override {
    ByteRead read;
    while (read.got < dest.size() && offset < size()) {
      const std::uint64_t hunk = offset / header_.hunkBytes;
      const std::uint8_t* bytes = Hunk(hunk);
      if (bytes == nullptr) {
        read.error = std::make_error_code(std::errc::io_error);
        return read;
      }
      const auto within = static_cast<std::size_t>(offset % header_.hunkBytes);
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(
          {dest.size() - read.got, header_.hunkBytes - within, size() - offset}));
      std::memcpy(dest.data() + read.got, bytes + within, n);
      read.got += n;
      offset += n;
    }
    return read;
  }

  const std::optional<HunkFailure>& failure() const { return failure_; }
  std::uint32_t hunkBytes() const { return header_.hunkBytes; }
  std::uint64_t hunksDecompressed() const { return decompressed_; }

 private:
  struct Kept {
    std::uint64_t hunk = 0;
    std::uint64_t lastUse = 0;
    std::vector<std::uint8_t> bytes;
  };

  const std::uint8_t* Fail(std::uint64_t hunk, std::string why) {
    failure_ = HunkFailure{hunk, std::move(why)};
    return nullptr;
  }

  // The bytes of a hunk; null, with failure_ set, if it cannot be read.
  const std::uint8_t* Hunk(std::uint64_t wanted) {
    std::uint64_t hunk = wanted;
    while (map_[hunk].kind == HunkKind::kSelf) {
      hunk = map_[hunk].offset;  // an earlier hunk (checked when the map was read)
    }
    ++clock_;
    for (Kept& kept : kept_hunks_) {
      if (kept.hunk == hunk) {
        kept.lastUse = clock_;
        return kept.bytes.data();
      }
    }
    Kept* slot = nullptr;
    if (kept_hunks_.size() < kept_) {
      try {
        kept_hunks_.push_back(Kept{hunk, clock_, std::vector<std::uint8_t>(header_.hunkBytes)});
      } catch (const std::bad_alloc&) {
        return Fail(wanted, "cannot be held: out of memory");
      }
      slot = &kept_hunks_.back();
    } else {
      slot = &*std::min_element(kept_hunks_.begin(), kept_hunks_.end(),
                                [](const Kept& a, const Kept& b) { return a.lastUse < b.lastUse; });
      slot->hunk = hunk;
      slot->lastUse = clock_;
    }
    std::optional<std::string> wrong;
    try {
      wrong = Load(hunk, slot->bytes);
    } catch (const std::bad_alloc&) {
      wrong = "cannot be decompressed: out of memory";
    }
    if (wrong) {
      slot->hunk = std::numeric_limits<std::uint64_t>::max();
      return Fail(hunk, std::move(*wrong));
    }
    return slot->bytes.data();
  }

  std::optional<std::string> Load(std::uint64_t hunk, std::span<std::uint8_t> out) {
    const chd::MapEntry& entry = map_[hunk];
    if (entry.kind == HunkKind::kZeros) {
      std::fill(out.begin(), out.end(), 0);
      return std::nullopt;
    }
    if (entry.kind == HunkKind::kParent) {
      return std::string("is in the parent CHD, which is not read");
    }
    const bool stored = entry.kind == HunkKind::kStored;
    if (!stored && entry.length > header_.hunkBytes * 2u) {
      return std::string("is larger compressed than a hunk is whole");
    }
    std::span<std::uint8_t> target = out;
    if (!stored) {
      compressed_.resize(entry.length);
      target = compressed_;
    }
    const ByteRead read = file_->ReadAt(entry.offset, target.first(entry.length));
    if (read.error) {
      return "cannot be read: " + read.error.message();
    }
    if (read.got < entry.length) {
      return std::string("lies beyond the end of the file: the file is cut short");
    }
    if (!stored) {
      ++decompressed_;
      if (auto wrong = chd::Decompress(header_.codecs[entry.codec], compressed_, out, &scratch_)) {
        return wrong;
      }
    }
    if (entry.crc && chd::Crc16(out) != *entry.crc) {
      return std::string("fails its CRC check");
    }
    return std::nullopt;
  }

  std::unique_ptr<ByteSource> file_;
  chd::Header header_;
  std::vector<chd::MapEntry> map_;
  std::size_t kept_ = kKeptHunks;
  std::vector<Kept> kept_hunks_;
  std::uint64_t clock_ = 0;
  std::vector<std::uint8_t> compressed_;
  chd::CodecScratch scratch_;
  std::optional<HunkFailure> failure_;
  std::uint64_t decompressed_ = 0;
};

// The data track in the CHD's frames, a hunk that cannot be read named
// with its sectors.
class ChdTrack final : public SectorTrack {
 public:
  ChdTrack(std::unique_ptr<ChdBytes> bytes, const chd::DataTrack& data)
      : bytes_(bytes.get()), data_(data), image_(std::move(bytes), Layout(data)) {}

  std::uint64_t first() const override { return image_.first(); }
  std::uint64_t count() const override { return image_.count(); }
  std::uint64_t hunksDecompressed() const { return bytes_->hunksDecompressed(); }
  bool Read(std::uint64_t sector, std::size_t count, std::uint8_t* out, ReadFault* fault) override {
    if (image_.Read(sector, count, out, fault)) {
      return true;
    }
    if (const auto& failure = bytes_->failure(); failure && fault != nullptr) {
      const std::uint64_t framesPerHunk = bytes_->hunkBytes() / kFrameBytes;
      const std::uint64_t firstFrame = failure->hunk * framesPerHunk;
      const std::uint64_t from = std::max(firstFrame, data_.firstFrame);
      const std::uint64_t to =
          std::min(firstFrame + framesPerHunk, data_.firstFrame + data_.sectors);
      std::string sectors;
      if (from < to) {
        const std::uint64_t a = from - data_.firstFrame + data_.firstSector;
        const std::uint64_t b = to - 1 - data_.firstFrame + data_.firstSector;
        sectors = a == b ? " (sector " + std::to_string(a) + ")"
                         : " (sectors " + std::to_string(a) + " to " + std::to_string(b) + ")";
      }
      fault->why = Quoted(bytes_->name()) + ": hunk " + std::to_string(failure->hunk) + sectors +
                   " " + failure->why;
    }
    return false;
  }

 private:
  static ImageTrack::Layout Layout(const chd::DataTrack& data) {
    ImageTrack::Layout layout;
    layout.format = data.format;
    layout.firstByte = data.firstFrame * kFrameBytes;
    layout.endByte = layout.firstByte + data.sectors * kFrameBytes;
    layout.firstSector = data.firstSector;
    return layout;
  }

  ChdBytes* bytes_;
  chd::DataTrack data_;
  ImageTrack image_;
};

bool Refuse(OpenFailure* failure, std::string text) {
  failure->error = failure->error ? failure->error : platform::NoFileSystemError();
  failure->text = std::move(text);
  return false;
}

// `size` bytes at `offset`, bounded by the caller.
bool ReadBytes(ByteSource& file, std::uint64_t offset, std::size_t size,
               std::vector<std::uint8_t>* out, OpenFailure* failure) {
  try {
    out->resize(size);
  } catch (const std::bad_alloc&) {
    failure->error = std::make_error_code(std::errc::not_enough_memory);
    return Refuse(failure, "out of memory");
  }
  const ByteRead read = file.ReadAt(offset, *out);
  if (read.error) {
    failure->error = read.error;
    return Refuse(failure, read.error.message());
  }
  if (read.got < size) {
    return Refuse(failure, "it is cut short: it ends at byte " + std::to_string(file.size()));
  }
  return true;
}

bool ReadMapBytes(ByteSource& file, const chd::Header& header, std::vector<chd::MapEntry>* map,
                  OpenFailure* failure) {
  const std::uint64_t size = file.size();
  std::vector<std::uint8_t> bytes;
  std::optional<std::string> wrong;
  if (std::all_of(header.codecs.begin(), header.codecs.end(), [](auto c) { return c == 0; })) {
    const std::uint64_t wanted = header.hunkCount * 4;
    if (wanted > size - header.mapOffset) {
      return Refuse(failure, "its map is cut short: the file is cut short");
    }
    if (!ReadBytes(file, header.mapOffset, static_cast<std::size_t>(wanted), &bytes, failure)) {
      return false;
    }
    wrong = chd::ParseStoredMap(bytes, header, size, map);
  } else {
    if (!ReadBytes(file, header.mapOffset,
                   static_cast<std::size_t>(
                       std::min<std::uint64_t>(chd::kMapHeaderBytes, size - header.mapOffset)),
                   &bytes, failure)) {
      return false;
    }
    const std::uint64_t length = bytes.size() < chd::kMapHeaderBytes ? 0 : BigEndian(bytes, 0, 4);
    const std::uint64_t available = size - header.mapOffset;
    if (length > kMostMapBytes) {
      return Refuse(failure,
                    "its map takes " + std::to_string(length) + " bytes, more than 64 MiB");
    }
    const std::uint64_t wanted = std::min<std::uint64_t>(available, chd::kMapHeaderBytes + length);
    if (!ReadBytes(file, header.mapOffset, static_cast<std::size_t>(wanted), &bytes, failure)) {
      return false;
    }
    wrong = chd::ParseCompressedMap(bytes, header, size, map);
  }
  if (wrong) {
    return Refuse(failure, "its " + *wrong);
  }
  return true;
}

// The map; out of memory for it is a failure like the others.
bool ReadMap(ByteSource& file, const chd::Header& header, std::vector<chd::MapEntry>* map,
             OpenFailure* failure) {
  try {
    return ReadMapBytes(file, header, map, failure);
  } catch (const std::bad_alloc&) {
    failure->error = std::make_error_code(std::errc::not_enough_memory);
    return Refuse(failure, "its map cannot be held: out of memory");
  }
}

bool ReadTracks(ByteSource& file, const chd::Header& header, std::vector<chd::Track>* tracks,
                OpenFailure* failure) {
  std::uint64_t at = header.metadataOffset;
  for (unsigned entries = 0; at != 0; ++entries) {
    if (entries == chd::kMostMetadataEntries) {
      return Refuse(failure, "its metadata holds more than 1024 entries, or loops");
    }
    if (at > file.size() || file.size() - at < 16) {
      return Refuse(failure, "its metadata entry at byte " + std::to_string(at) +
                                 " lies beyond the end of the file: the file is cut short");
    }
    // A read that fails is said as that failure.
    std::vector<std::uint8_t> entry;
    if (!ReadBytes(file, at, 16, &entry, failure)) {
      return false;
    }
    const auto tag = static_cast<std::uint32_t>(BigEndian(entry, 0, 4));
    const std::uint64_t length = BigEndian(entry, 5, 3);
    const std::uint64_t next = BigEndian(entry, 8, 8);
    if (tag == chd::Tag("CHT2") || tag == chd::Tag("CHTR")) {
      if (length > chd::kMostTrackText) {
        return Refuse(failure, "its track metadata at byte " + std::to_string(at) +
                                   " is longer than 1024 bytes");
      }
      std::vector<std::uint8_t> text;
      if (!ReadBytes(file, at + 16, static_cast<std::size_t>(length), &text, failure)) {
        return false;
      }
      chd::Track track;
      if (auto wrong =
              chd::ParseTrack({reinterpret_cast<const char*>(text.data()), text.size()}, &track)) {
        return Refuse(failure, "its " + *wrong);
      }
      tracks->push_back(std::move(track));
    }
    at = next;
  }
  return true;
}

bool OpenChd(std::unique_ptr<ByteSource> given, Neighbours& /*neighbours*/, OpenedTrack* opened,
             OpenFailure* failure) {
  std::vector<std::uint8_t> head;
  if (!ReadHead(*given, chd::kHeaderBytes, &head, &failure->error)) {
    return Refuse(failure, failure->error.message());
  }
  chd::Header header;
  if (auto wrong = chd::ParseHeader(head, given->size(), &header)) {
    return Refuse(failure, "its " + *wrong);
  }
  if (header.HasParent()) {
    std::string sha1;
    for (const std::uint8_t byte : header.parentSha1) {
      static constexpr char kHex[] = "0123456789abcdef";
      sha1 += kHex[byte >> 4];
      sha1 += kHex[byte & 15];
    }
    return Refuse(failure,
                  "it holds only what differs from its parent CHD (SHA-1 " + sha1 +
                      "), which is not read: chdman copy -i CHILD.chd -ip PARENT.chd -o WHOLE.chd "
                      "writes a CHD that needs no parent");
  }
  for (const std::uint32_t codec : header.codecs) {
    if (codec != 0 && !chd::CodecRead(codec)) {
      return Refuse(failure, "its hunks are compressed with " + chd::TagName(codec) +
                                 ", which this build does not read: chdman copy -c cdlz,cdzl,cdfl "
                                 "writes a CHD of codecs that it reads");
    }
  }
  if (std::string why; !chd::CodecsReady(&why)) {
    return Refuse(failure, "the libraries that decompress its hunks cannot be loaded: " + why);
  }
  std::vector<chd::MapEntry> map;
  std::vector<chd::Track> tracks;
  chd::DataTrack data;
  if (!ReadMap(*given, header, &map, failure) || !ReadTracks(*given, header, &tracks, failure)) {
    return false;
  }
  if (auto wrong = chd::FindDataTrack(tracks, &data)) {
    return Refuse(failure, "its " + *wrong);
  }
  if ((data.firstFrame + data.sectors) * kFrameBytes > header.logicalBytes) {
    return Refuse(failure, "its data track ends beyond its data (" +
                               std::to_string(header.logicalBytes / kFrameBytes) + " frames)");
  }
  opened->track = std::make_unique<ChdTrack>(
      std::make_unique<ChdBytes>(std::move(given), header, std::move(map)), data);
  return true;
}

bool RecogniseChd(const Probe& probe) {
  return probe.head.size() >= 8 && std::memcmp(probe.head.data(), "MComprHD", 8) == 0;
}

}  // namespace

const Container kChd = {"CHD", RecogniseChd, OpenChd, nullptr};

std::uint64_t ChdHunksDecompressed(const SectorTrack& track) {
  const auto* chdTrack = dynamic_cast<const ChdTrack*>(&track);
  return chdTrack == nullptr ? 0 : chdTrack->hunksDecompressed();
}

}  // namespace cgvw::disc
