// Zip and 7z archives as a layout (archives.h).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "archive_stream.h"
#include "archives.h"
#include "dumps.h"
#include "messages.h"
#include "platform/folder_files.h"
#include "platform/names.h"

namespace cgvw::disc {
namespace {

// A member's data is read and kept in blocks of this size: its first
// kPinnedBlocks (where a file system keeps its descriptors and directories)
// once read, and the kCachedBlocks others read last.
constexpr std::size_t kBlockBytes = 64 << 10;
constexpr std::uint64_t kPinnedBlocks = 16;
constexpr std::size_t kCachedBlocks = 256;
// The most members looked at, and the most bytes of descriptors kept whole.
constexpr std::size_t kMostMembers = 1 << 16;
constexpr std::uint64_t kMostKeptBytes = 16 << 20;
// The most names a message lists.
constexpr std::size_t kListedNames = 8;

std::atomic<std::uint64_t> restarts{0};

bool Begins(std::span<const std::uint8_t> head, std::string_view magic) {
  return head.size() >= magic.size() && std::memcmp(head.data(), magic.data(), magic.size()) == 0;
}

bool IsArchive(const Probe& probe) {
  return Begins(probe.head, std::string_view("PK\x03\x04", 4)) ||
         Begins(probe.head, std::string_view("PK\x05\x06", 4)) ||
         Begins(probe.head, std::string_view("7z\xBC\xAF\x27\x1C", 6));
}

// A path inside the archive as a sheet names it from its own folder:
// '\' taken as '/', "." and ".." followed, no leading '/'.
std::string Normal(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    const char c = i < path.size() ? path[i] : '/';
    if (c != '/' && c != '\\') {
      part += c;
      continue;
    }
    if (part == "..") {
      if (!parts.empty()) {
        parts.pop_back();
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  }
  std::string joined;
  for (const std::string& each : parts) {
    joined += (joined.empty() ? "" : "/") + each;
  }
  return joined;
}

std::string FolderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? "" : path.substr(0, slash + 1));
}

std::string Lowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return lower;
}

struct Member {
  MemberEntry entry;
  std::error_code fault;                                  // why its first bytes could not be read
  std::shared_ptr<const std::vector<std::uint8_t>> kept;  // a descriptor's bytes, whole
};

// The archive: its bytes and what its one pass found.
struct Archive {
  std::unique_ptr<ByteSource> bytes;
  std::string path;  // the archive file's, for the list of files read
  std::vector<Member> members;
  std::string stopped;  // why the listing ended before the archive's end

  // The member at a normalised path: the same bytes, else the only one
  // that differs in the case of ASCII letters.
  std::optional<std::size_t> Find(const std::string& path) const {
    std::optional<std::size_t> other;
    std::size_t others = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const std::string normal = Normal(members[i].entry.path);
      if (normal == path) {
        return i;
      }
      if (platform::EqualIgnoringAsciiCase(normal, path)) {
        other = i;
        ++others;
      }
    }
    return others == 1 ? other : std::nullopt;
  }
};

// A member's bytes, read in order from libarchive as they are asked for.
class MemberBytes final : public ByteSource {
 public:
  MemberBytes(std::shared_ptr<const Archive> archive, std::size_t index, std::string name)
      : archive_(std::move(archive)), index_(index), name_(std::move(name)) {}

  std::uint64_t size() const override { return archive_->members[index_].entry.size; }
  const std::string& name() const override { return name_; }

  ByteRead ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) override {
    ByteRead read;
    if (offset >= size()) {
      return read;
    }
    dest =
        dest.first(static_cast<std::size_t>(std::min<std::uint64_t>(dest.size(), size() - offset)));
    while (read.got < dest.size()) {
      const std::uint64_t at = offset + read.got;
      const std::uint64_t index = at / kBlockBytes;
      const Block* block = Get(index, &read.error);
      const std::uint64_t within = at - index * kBlockBytes;
      if (block == nullptr || within >= block->bytes.size()) {
        if (!read.error) {
          read.error = failure_ ? failure_ : MakeError(MemberFault::kCutShort);
        }
        return read;
      }
      const auto part = static_cast<std::size_t>(
          std::min<std::uint64_t>(block->bytes.size() - within, dest.size() - read.got));
      std::memcpy(dest.data() + read.got, block->bytes.data() + within, part);
      read.got += part;
    }
    return read;
  }

 private:
  struct Block {
    std::uint64_t index;
    std::uint64_t used;
    std::vector<std::uint8_t> bytes;
  };

  const Block* Get(std::uint64_t index, std::error_code* error) {
    for (Block& block : blocks_) {
      if (block.index == index) {
        block.used = ++clock_;
        return &block;
      }
    }
    const std::uint64_t start = index * kBlockBytes;
    if (failure_ && start >= failedAt_) {
      *error = failure_;
      return nullptr;
    }
    if (!stream_ || position_ > start) {
      if (!Start(error)) {
        return nullptr;
      }
    }
    while (position_ < start) {  // skipped, but the first blocks are kept
      const std::uint64_t skipped = position_ / kBlockBytes;
      if (!Load(skipped, skipped < kPinnedBlocks && Held(skipped) == nullptr)) {
        *error = failure_;
        return nullptr;
      }
    }
    Load(index, true);
    return Held(index);
  }

  Block* Held(std::uint64_t index) {
    for (Block& block : blocks_) {
      if (block.index == index) {
        return &block;
      }
    }
    return nullptr;
  }

  // Begins the member's data (again).
  bool Start(std::error_code* error) {
    if (started_) {
      restarts.fetch_add(1, std::memory_order_relaxed);
    }
    started_ = true;
    stream_.reset();
    position_ = 0;
    auto stream = std::make_unique<ArchiveStream>(*archive_->bytes);
    std::string why;
    if (!stream->Open(error, &why)) {
      return false;
    }
    MemberEntry entry;
    for (std::size_t i = 0; i <= index_; ++i) {
      const int next = stream->Next(&entry, error, &why);
      if (next <= 0) {
        *error = next == 0 ? MakeError(MemberFault::kCutShort) : *error;
        return false;
      }
    }
    stream_ = std::move(stream);
    return true;
  }

  // Reads the block at the stream's position; kept if `keep`. False when
  // the data ended or failed before the block's end (failure_ says why).
  bool Load(std::uint64_t index, bool keep) {
    const auto wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(kBlockBytes, size() - index * kBlockBytes));
    std::vector<std::uint8_t> bytes;
    if (keep && index >= kPinnedBlocks && Unpinned() >= kCachedBlocks) {
      const auto oldest =
          std::min_element(blocks_.begin(), blocks_.end(), [](const Block& a, const Block& b) {
            constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
            return (a.index >= kPinnedBlocks ? a.used : kNever) <
                   (b.index >= kPinnedBlocks ? b.used : kNever);
          });
      bytes = std::move(oldest->bytes);
      blocks_.erase(oldest);
    }
    std::vector<std::uint8_t>& into = keep ? bytes : scratch_;
    into.resize(wanted);
    const ByteRead read = stream_->Read(into);
    position_ += read.got;
    const bool whole = !read.error && read.got == wanted;
    if (!whole) {
      failure_ = read.error ? read.error : MakeError(MemberFault::kCutShort);
      failedAt_ = position_;
      stream_.reset();
      into.resize(read.got);
    }
    if (keep) {
      blocks_.push_back({index, ++clock_, std::move(bytes)});
    }
    return whole;
  }

  std::size_t Unpinned() const {
    return static_cast<std::size_t>(std::count_if(
        blocks_.begin(), blocks_.end(), [](const Block& b) { return b.index >= kPinnedBlocks; }));
  }

  std::shared_ptr<const Archive> archive_;
  std::size_t index_;
  std::string name_;
  std::unique_ptr<ArchiveStream> stream_;
  bool started_ = false;
  std::uint64_t position_ = 0;
  std::vector<Block> blocks_;
  std::vector<std::uint8_t> scratch_;
  std::uint64_t clock_ = 0;
  std::error_code failure_;  // why the data stops at failedAt_
  std::uint64_t failedAt_ = 0;
};

// The first bytes of a member only, for telling what it is without
// decompressing more: a read past them fails.
class HeadBytes final : public ByteSource {
 public:
  HeadBytes(std::span<const std::uint8_t> head, std::uint64_t size, const std::string& name)
      : head_(head), size_(size), name_(name) {}
  std::uint64_t size() const override { return size_; }
  const std::string& name() const override { return name_; }
  ByteRead ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) override {
    ByteRead read;
    const std::uint64_t end =
        offset + std::min<std::uint64_t>(dest.size(), size_ - std::min(offset, size_));
    if (end > head_.size()) {
      read.error = std::make_error_code(std::errc::io_error);
    } else if (end > offset) {
      read.got = static_cast<std::size_t>(end - offset);
      std::memcpy(dest.data(), head_.data() + offset, read.got);
    }
    return read;
  }

 private:
  std::span<const std::uint8_t> head_;
  std::uint64_t size_;
  const std::string& name_;
};

std::unique_ptr<ByteSource> BytesOf(const std::shared_ptr<const Archive>& archive,
                                    std::size_t index, std::string name) {
  const Member& member = archive->members[index];
  if (member.kept) {
    return std::make_unique<MemoryBytes>(*member.kept, std::move(name));
  }
  return std::make_unique<MemberBytes>(archive, index, std::move(name));
}

// The members a layout inside the archive names, beside the member given.
class ArchiveMembers final : public Neighbours {
 public:
  ArchiveMembers(std::shared_ptr<const Archive> archive, std::size_t given)
      : archive_(std::move(archive)),
        given_(given),
        folder_(FolderOf(Normal(archive_->members[given].entry.path))) {}

  std::unique_ptr<ByteSource> Open(std::string_view name, std::error_code* error) override {
    const std::optional<std::size_t> index = Look(name, error);
    return index ? BytesOf(archive_, *index, std::string(name)) : nullptr;
  }
  std::optional<std::uint64_t> Size(std::string_view name, std::error_code* error) override {
    const std::optional<std::size_t> index = Look(name, error);
    return index ? std::optional(archive_->members[*index].entry.size) : std::nullopt;
  }
  std::string PathOf(std::string_view /*name*/) const override { return archive_->path; }
  std::string GivenName() const override {
    const std::string path = Normal(archive_->members[given_].entry.path);
    return path.substr(FolderOf(path).size());
  }

 private:
  std::optional<std::size_t> Look(std::string_view name, std::error_code* error) const {
    const std::optional<std::size_t> index = archive_->Find(Normal(folder_ + std::string(name)));
    if (!index) {
      *error = std::make_error_code(std::errc::no_such_file_or_directory);
      return std::nullopt;
    }
    const Member& member = archive_->members[*index];
    if (*index == given_) {
      *error = GivenFileItselfError();
    } else if (!member.entry.regular) {
      *error = std::make_error_code(std::errc::is_a_directory);
    } else if (member.entry.encrypted) {
      *error = MakeError(MemberFault::kEncrypted);
    } else {
      return index;
    }
    return std::nullopt;
  }

  std::shared_ptr<const Archive> archive_;
  std::size_t given_;
  std::string folder_;
};

bool Refuse(OpenFailure* failure, std::error_code error, std::string text) {
  failure->error = error ? error : platform::NoFileSystemError();
  failure->line = 0;
  failure->text = std::move(text);
  return false;
}

// A member's layout, from its first bytes (`heads`) as the pass read them.
struct Seen {
  std::vector<std::uint8_t> head;
  const Container* layout = nullptr;
};

// The one pass: every member listed, its first bytes looked at, and a
// descriptor's bytes kept whole.
bool Pass(Archive& archive, std::vector<Seen>* seen, OpenFailure* failure) {
  ArchiveStream stream(*archive.bytes);
  std::error_code error;
  std::string why;
  if (!stream.Open(&error, &why)) {
    return Refuse(failure, error, "the archive cannot be read: " + why);
  }
  std::uint64_t keptBytes = 0;
  std::vector<std::uint8_t> rest;
  for (;;) {
    Member member;
    const int next = stream.Next(&member.entry, &error, &why);
    if (next < 0 && archive.members.empty()) {
      return Refuse(failure, error, "the archive cannot be read: " + why);
    }
    if (next < 0) {
      // Cut short, say: what was listed may hold the disc, readable up to
      // the cut.
      archive.stopped = "the archive cannot be read after " +
                        std::to_string(archive.members.size()) + " files: " + why;
      return true;
    }
    if (next == 0) {
      return true;
    }
    if (archive.members.size() == kMostMembers) {
      return Refuse(failure, {}, "holds more than " + std::to_string(kMostMembers) + " files");
    }
    Seen look;
    MemberEntry& entry = member.entry;
    if (entry.regular && entry.encrypted) {
      member.fault = MakeError(MemberFault::kEncrypted);
    } else if (entry.regular) {
      look.head.resize(entry.sizeKnown ? static_cast<std::size_t>(
                                             std::min<std::uint64_t>(entry.size, kHeadBytes))
                                       : kHeadBytes);
      ByteRead read = stream.Read(look.head);
      look.head.resize(read.got);
      std::uint64_t size = read.got;
      // A member of unknown size is read to its end to learn it.
      while (!entry.sizeKnown && !read.error && read.got > 0) {
        rest.resize(kBlockBytes);
        read = stream.Read(rest);
        size += read.got;
      }
      if (!entry.sizeKnown) {
        entry.size = size;
        entry.sizeKnown = !read.error;
      }
      member.fault = read.error;
      if (!read.error && look.head.size() < std::min<std::uint64_t>(entry.size, kHeadBytes)) {
        member.fault = MakeError(MemberFault::kCutShort);
      }
      const std::string path = Normal(entry.path);
      HeadBytes bytes(look.head, entry.size, path);
      look.layout = member.fault ? nullptr : Recognise({bytes, look.head, path});
      if (look.layout != nullptr && look.layout->names != nullptr &&
          entry.size <= kMostDescriptorBytes && keptBytes + entry.size <= kMostKeptBytes) {
        auto whole = std::make_shared<std::vector<std::uint8_t>>(look.head);
        whole->resize(static_cast<std::size_t>(entry.size));
        const std::span<std::uint8_t> tail = std::span(*whole).subspan(look.head.size());
        read = stream.Read(tail);
        if (!read.error && read.got == tail.size()) {
          member.kept = std::move(whole);
          keptBytes += entry.size;
        }
      }
    }
    archive.members.push_back(std::move(member));
    seen->push_back(std::move(look));
  }
}

std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kListedNames; ++i) {
    text += (i == 0 ? "" : ", ") + Quoted(names[i]);
  }
  if (names.size() > kListedNames) {
    text += " and " + std::to_string(names.size() - kListedNames) + " more";
  }
  return text;
}

// The members that are discs: each descriptor, and each image that no
// descriptor names.
std::vector<std::size_t> Discs(const std::shared_ptr<const Archive>& archive,
                               std::vector<Seen>& seen) {
  const std::vector<Member>& members = archive->members;
  std::set<std::string> named;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (seen[i].layout != nullptr && seen[i].layout->names != nullptr) {
      const std::string path = Normal(members[i].entry.path);
      const std::unique_ptr<ByteSource> bytes = BytesOf(archive, i, path);
      for (const std::string& name : seen[i].layout->names(*bytes)) {
        named.insert(Lowered(Normal(FolderOf(path) + name)));
      }
    }
  }
  std::vector<std::size_t> discs;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Member& member = members[i];
    const std::string path = Normal(member.entry.path);
    const bool isNamed = named.count(Lowered(path)) != 0;
    if (seen[i].layout == nullptr && !isNamed && member.entry.regular && !member.fault &&
        member.entry.size > seen[i].head.size()) {
      // Told by its end only (a Nero image that begins with audio, say).
      MemberBytes bytes(archive, i, path);
      seen[i].layout = Recognise({bytes, seen[i].head, path});
    }
    // An archive inside is not looked into (one that holds itself would
    // never end).
    if (seen[i].layout != nullptr && seen[i].layout != &kArchive &&
        (seen[i].layout->names != nullptr || !isNamed)) {
      discs.push_back(i);
    }
  }
  return discs;
}

bool OpenArchive(std::unique_ptr<ByteSource> given, Neighbours& neighbours, OpenedTrack* opened,
                 OpenFailure* failure) {
  auto archive = std::make_shared<Archive>();
  archive->path = neighbours.PathOf(neighbours.GivenName());
  archive->bytes = std::move(given);
  std::vector<Seen> seen;
  if (!Pass(*archive, &seen, failure)) {
    return false;
  }
  const std::shared_ptr<const Archive> shared = archive;
  const std::vector<std::size_t> discs = Discs(shared, seen);
  std::vector<std::string> names;
  if (discs.size() > 1) {
    for (const std::size_t disc : discs) {
      names.push_back(archive->members[disc].entry.path);
    }
    return Refuse(
        failure, {},
        "holds several discs (" + Listed(names) + "): unpack the one to convert and give it alone");
  }
  if (discs.empty()) {
    for (const Member& member : archive->members) {
      if (member.fault) {
        return Refuse(failure, member.fault,
                      Quoted(member.entry.path) + ": " + member.fault.message());
      }
      if (member.entry.regular) {
        names.push_back(member.entry.path);
      }
    }
    if (!archive->stopped.empty()) {
      return Refuse(failure, {}, archive->stopped);
    }
    return Refuse(failure, {},
                  names.empty() ? "holds no disc image: the archive holds no files"
                                : "holds no disc image: none of its files (" + Listed(names) +
                                      ") is one that is read");
  }
  const std::size_t disc = discs.front();
  const std::string path = Normal(archive->members[disc].entry.path);
  ArchiveMembers members(shared, disc);
  OpenFailure inner;
  if (!seen[disc].layout->open(BytesOf(shared, disc, path), members, opened, &inner)) {
    std::string text = Quoted(path);
    if (inner.line != 0) {
      text.append(":").append(std::to_string(inner.line));
    }
    return Refuse(failure, inner.error, text.append(": ").append(inner.text));
  }
  return true;
}

}  // namespace

const Container kArchive = {"archive", IsArchive, OpenArchive, nullptr};

std::uint64_t ArchiveRestarts() {
  return restarts.load(std::memory_order_relaxed);
}

}  // namespace cgvw::disc
