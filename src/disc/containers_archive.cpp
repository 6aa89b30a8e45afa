// Zip and 7z archives as a layout (archives.h).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "archive_members.h"
#include "archive_stream.h"
#include "archives.h"
#include "dumps.h"
#include "messages.h"
#include "platform/folder_files.h"
#include "platform/names.h"

namespace cgvw::disc {
namespace {

// The most members looked at, and the most bytes of descriptors kept whole.
constexpr std::size_t kMostMembers = 1 << 16;
constexpr std::uint64_t kMostKeptBytes = 16 << 20;
// A member of unknown size is read in pieces of this size to learn it.
constexpr std::size_t kSkipBytes = 64 << 10;
// The most names a message lists.
constexpr std::size_t kListedNames = 8;

bool Begins(std::span<const std::uint8_t> head, std::string_view magic) {
  return head.size() >= magic.size() && std::memcmp(head.data(), magic.data(), magic.size()) == 0;
}

bool IsArchive(const Probe& probe) {
  return Begins(probe.head, std::string_view("PK\x03\x04", 4)) ||
         Begins(probe.head, std::string_view("PK\x05\x06", 4)) ||
         Begins(probe.head, std::string_view("7z\xBC\xAF\x27\x1C", 6));
}

std::string Lowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return lower;
}

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

// Looks at the member the stream stands at: its first bytes tell its
// layout; a descriptor is kept whole while `keptBytes` allow.
void Look(ArchiveStream& stream, Member* member, Seen* look, std::uint64_t* keptBytes) {
  MemberEntry& entry = member->entry;
  if (entry.encrypted) {
    member->fault = MakeError(MemberFault::kEncrypted);
    return;
  }
  look->head.resize(entry.sizeKnown
                        ? static_cast<std::size_t>(std::min<std::uint64_t>(entry.size, kHeadBytes))
                        : kHeadBytes);
  ByteRead read = stream.Read(look->head);
  look->head.resize(read.got);
  std::uint64_t size = read.got;
  // A member of unknown size is read to its end to learn it.
  std::vector<std::uint8_t> rest;
  while (!entry.sizeKnown && !read.error && read.got > 0) {
    rest.resize(kSkipBytes);
    read = stream.Read(rest);
    size += read.got;
  }
  if (!entry.sizeKnown) {
    entry.size = size;
    entry.sizeKnown = !read.error;
  }
  member->fault = read.error;
  if (!read.error && look->head.size() < std::min<std::uint64_t>(entry.size, kHeadBytes)) {
    member->fault = MakeError(MemberFault::kCutShort);
  }
  const std::string path = Normal(entry.path);
  HeadBytes bytes(look->head, entry.size, path);
  look->layout = member->fault ? nullptr : Recognise({bytes, look->head, path});
  if (look->layout != nullptr && look->layout->names != nullptr &&
      entry.size <= kMostDescriptorBytes && *keptBytes + entry.size <= kMostKeptBytes) {
    auto whole = std::make_shared<std::vector<std::uint8_t>>(look->head);
    whole->resize(static_cast<std::size_t>(entry.size));
    const std::span<std::uint8_t> tail = std::span(*whole).subspan(look->head.size());
    read = stream.Read(tail);
    if (!read.error && read.got == tail.size()) {
      member->kept = std::move(whole);
      *keptBytes += entry.size;
    }
  }
}

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
    if (member.entry.regular) {
      Look(stream, &member, &look, &keptBytes);
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
      const std::unique_ptr<ByteSource> bytes = BytesOf(archive, i, path);
      seen[i].layout = Recognise({*bytes, seen[i].head, path});
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

// Why the archive is no one disc: several, none, or a member that cannot
// be read.
bool RefuseDiscs(const Archive& archive, const std::vector<std::size_t>& discs,
                 OpenFailure* failure) {
  std::vector<std::string> names;
  if (discs.size() > 1) {
    for (const std::size_t disc : discs) {
      names.push_back(archive.members[disc].entry.path);
    }
    return Refuse(
        failure, {},
        "holds several discs (" + Listed(names) + "): unpack the one to convert and give it alone");
  }
  for (const Member& member : archive.members) {
    if (member.fault) {
      return Refuse(failure, member.fault,
                    Quoted(member.entry.path) + ": " + member.fault.message());
    }
    if (member.entry.regular) {
      names.push_back(member.entry.path);
    }
  }
  if (!archive.stopped.empty()) {
    return Refuse(failure, {}, archive.stopped);
  }
  return Refuse(failure, {},
                names.empty() ? "holds no disc image: the archive holds no files"
                              : "holds no disc image: none of its files (" + Listed(names) +
                                    ") is one that is read");
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
  if (discs.size() != 1) {
    return RefuseDiscs(*archive, discs, failure);
  }
  const std::size_t disc = discs.front();
  const std::string path = Normal(archive->members[disc].entry.path);
  const std::unique_ptr<Neighbours> members = MembersBeside(shared, disc);
  OpenFailure inner;
  if (!seen[disc].layout->open(BytesOf(shared, disc, path), *members, opened, &inner)) {
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

}  // namespace cgvw::disc
