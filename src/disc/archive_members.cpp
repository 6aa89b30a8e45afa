// The members of an archive (archive_members.h).
#include "archive_members.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

#include "archives.h"
#include "platform/names.h"

namespace cgvw::disc {
namespace {

// A member's data is read and kept in blocks of this size: its first
// kPinnedBlocks (where a file system keeps its descriptors and directories)
// once read, and the kCachedBlocks others read or passed over last (a
// conversion reads pictures out of the disc's order: going back to a block
// passed over on the way would begin the member again).
constexpr std::size_t kBlockBytes = 64 << 10;
constexpr std::uint64_t kPinnedBlocks = 16;
constexpr std::size_t kCachedBlocks = 256;

std::atomic<std::uint64_t> restarts{0};

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
    while (position_ < start) {  // passed over, but kept among those read last
      const std::uint64_t skipped = position_ / kBlockBytes;
      if (!Load(skipped, Held(skipped) == nullptr)) {
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

}  // namespace

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

std::optional<std::size_t> Archive::Find(const std::string& path) const {
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

std::unique_ptr<ByteSource> BytesOf(const std::shared_ptr<const Archive>& archive,
                                    std::size_t index, std::string name) {
  const Member& member = archive->members[index];
  if (member.kept) {
    return std::make_unique<MemoryBytes>(*member.kept, std::move(name));
  }
  return std::make_unique<MemberBytes>(archive, index, std::move(name));
}

std::unique_ptr<Neighbours> MembersBeside(std::shared_ptr<const Archive> archive,
                                          std::size_t given) {
  return std::make_unique<ArchiveMembers>(std::move(archive), given);
}

std::uint64_t ArchiveRestarts() {
  return restarts.load(std::memory_order_relaxed);
}

}  // namespace cgvw::disc
