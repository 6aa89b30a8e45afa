// Images of one file: plain 2048-byte sectors (.iso, .img), and bare raw
// dumps of 2352-byte Mode 1 or Mode 2 form 1 sectors (.bin, .img, a lone
// .mdf), each perhaps followed by 96 bytes of subcode, without a sheet. Each is told from sector
// 16, where an ISO 9660 file system has its first volume descriptor: a type byte of 1 (primary), 2
// (supplementary) or 255 (terminator), then "CD001". A raw sector 16 has the sync pattern and a
// header of mode 1, or of mode 2 with a form 1 subheader; its address tells where the track begins
// on the disc (a dump of a data track that followed audio tracks begins after them).
#include <algorithm>
#include <cstring>

#include "containers.h"

namespace cgvw::disc {
namespace {

constexpr std::uint64_t kDescriptorSector = 16;

bool HasVolumeDescriptor(std::span<const std::uint8_t> head, const SectorFormat& format) {
  const std::size_t at = std::size_t{kDescriptorSector} * format.bytes + format.dataOffset;
  if (head.size() < at + 6) {
    return false;
  }
  const std::uint8_t type = head[at];
  return (type == 1 || type == 2 || type == 255) && std::memcmp(&head[at + 1], "CD001", 5) == 0;
}

// The raw format of the head and the disc's number of its first sector.
struct RawStart {
  SectorFormat format;
  std::uint64_t firstSector;
};

std::optional<RawStart> RawFormat(std::span<const std::uint8_t> head) {
  // Sectors as read (2352 bytes), or each followed by its 96 bytes of
  // subcode (2448: a lone Alcohol .mdf, say).
  for (const std::uint32_t stride : {kRawBytes, kRawBytes + 96}) {
    const std::size_t at = std::size_t{kDescriptorSector} * stride;
    if (head.size() < at + kRawBytes) {
      return std::nullopt;
    }
    const std::span<const std::uint8_t> sector = head.subspan(at, kRawBytes);
    const auto address = HeaderSector(sector.subspan<12, 3>());
    if (!address || *address < static_cast<std::int64_t>(kDescriptorSector)) {
      continue;
    }
    const auto firstSector = static_cast<std::uint64_t>(*address) - kDescriptorSector;
    for (SectorFormat format : {kMode1Raw, kMode2Raw}) {
      format.bytes = stride;
      const SectorFault fault = CheckSector(format, sector, *address).fault;
      // The EDC is checked when the sector is read, to name it in a message.
      if ((fault == SectorFault::kNone || fault == SectorFault::kBadEdc) &&
          HasVolumeDescriptor(head, format)) {
        return RawStart{format, firstSector};
      }
    }
  }
  return std::nullopt;
}

bool OpenImage(std::unique_ptr<ByteSource> given, const ImageTrack::Layout& layout,
               OpenedTrack* opened) {
  opened->track = std::make_unique<ImageTrack>(std::move(given), layout);
  return true;
}

bool OpenRaw(std::unique_ptr<ByteSource> given, Neighbours& /*neighbours*/, OpenedTrack* opened,
             OpenFailure* failure) {
  std::vector<std::uint8_t> head;
  if (!ReadHead(*given, kHeadBytes, &head, &failure->error)) {
    failure->text = failure->error.message();
    return false;
  }
  const std::optional<RawStart> raw = RawFormat(head);
  if (!raw) {  // changed since it was recognised
    failure->error = std::make_error_code(std::errc::io_error);
    failure->text = "the file changed while it was read";
    return false;
  }
  const std::uint64_t size = given->size();
  return OpenImage(std::move(given), {raw->format, 0, size, raw->firstSector}, opened);
}

bool OpenPlain(std::unique_ptr<ByteSource> given, Neighbours& /*neighbours*/, OpenedTrack* opened,
               OpenFailure* /*failure*/) {
  const std::uint64_t size = given->size();
  return OpenImage(std::move(given), {kPlainSectors, 0, size, 0}, opened);
}

}  // namespace

const Container kRawImage = {"raw image",
                             [](const Probe& probe) { return RawFormat(probe.head).has_value(); },
                             OpenRaw, nullptr};

const Container kPlainImage = {
    "plain image",
    [](const Probe& probe) { return HasVolumeDescriptor(probe.head, kPlainSectors); }, OpenPlain,
    nullptr};

}  // namespace cgvw::disc
