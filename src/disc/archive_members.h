// The members of a zip or 7z archive (archives.h): what the one pass
// through it found, and each member's bytes, read from libarchive in order
// as they are asked for, with what was read last kept.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "archive_stream.h"
#include "containers.h"

namespace cgvw::disc {

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
  std::optional<std::size_t> Find(const std::string& path) const;
};

// A path inside the archive as a sheet names it from its own folder:
// '\' taken as '/', "." and ".." followed, no leading '/'.
std::string Normal(std::string_view path);
// Its folder, with the '/' after it: "" at the top.
std::string FolderOf(std::string_view path);

// The bytes of a member, named `name` in messages: a descriptor's kept
// bytes, else its data read through libarchive.
std::unique_ptr<ByteSource> BytesOf(const std::shared_ptr<const Archive>& archive,
                                    std::size_t index, std::string name);

// The members a layout inside the archive names, beside the member `given`.
std::unique_ptr<Neighbours> MembersBeside(std::shared_ptr<const Archive> archive,
                                          std::size_t given);

}  // namespace cgvw::disc
