// The dumps of whole discs (dumps.h) as layouts: CloneCD and Alcohol
// descriptors with the image files they name, and Nero images. The
// descriptor is read whole (a Nero image's chunks at its end), and only
// the file of the data track's sectors stays open.
#include <algorithm>
#include <cstring>

#include "containers.h"
#include "dumps.h"
#include "messages.h"
#include "platform/folder_files.h"

namespace cgvw::disc {
namespace {

bool Refuse(OpenFailure* failure, const DumpError& wrong) {
  failure->error = failure->error ? failure->error : platform::NoFileSystemError();
  failure->line = wrong.line;
  failure->text = wrong.what;
  return false;
}

// The whole descriptor, at most kMostDescriptorBytes.
bool ReadDescriptor(ByteSource& given, std::vector<std::uint8_t>* bytes, OpenFailure* failure) {
  if (given.size() > kMostDescriptorBytes) {
    return Refuse(failure, {0, "larger than 4 MiB, too large for a descriptor"});
  }
  if (!ReadHead(given, kMostDescriptorBytes, bytes, &failure->error)) {
    return Refuse(failure, {0, failure->error.message()});
  }
  return true;
}

// Opens the file of the data track's sectors and reads the track from it.
bool OpenTrack(const DumpTrack& dump, Neighbours& neighbours, OpenedTrack* opened,
               OpenFailure* failure) {
  std::error_code error;
  std::unique_ptr<ByteSource> file = neighbours.Open(dump.file, &error);
  if (!file) {
    failure->error = error;
    return Refuse(failure, {0, Quoted(dump.file) + ": " + error.message()});
  }
  opened->files.push_back(neighbours.PathOf(dump.file));
  ImageTrack::Layout layout = dump.layout;
  layout.endByte = std::min(layout.endByte, file->size());
  opened->track = std::make_unique<ImageTrack>(std::move(file), layout);
  return true;
}

std::string BaseName(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool OpenCloneCd(std::unique_ptr<ByteSource> given, Neighbours& neighbours, OpenedTrack* opened,
                 OpenFailure* failure) {
  std::vector<std::uint8_t> bytes;
  if (!ReadDescriptor(*given, &bytes, failure)) {
    return false;
  }
  DumpTrack dump;
  if (const auto wrong = ParseCloneCd({reinterpret_cast<const char*>(bytes.data()), bytes.size()},
                                      neighbours.GivenName(), &dump)) {
    return Refuse(failure, *wrong);
  }
  given.reset();
  return OpenTrack(dump, neighbours, opened, failure);
}

std::vector<std::string> CloneCdNames(ByteSource& given) {
  const std::string name = BaseName(given.name());
  return {WithExtension(name, ".img"), WithExtension(name, ".sub")};
}

bool OpenAlcohol(std::unique_ptr<ByteSource> given, Neighbours& neighbours, OpenedTrack* opened,
                 OpenFailure* failure) {
  std::vector<std::uint8_t> bytes;
  if (!ReadDescriptor(*given, &bytes, failure)) {
    return false;
  }
  DumpTrack dump;
  if (const auto wrong = ParseAlcohol(bytes, neighbours.GivenName(), &dump)) {
    return Refuse(failure, *wrong);
  }
  given.reset();
  return OpenTrack(dump, neighbours, opened, failure);
}

std::vector<std::string> AlcoholNames(ByteSource& given) {
  const std::string name = BaseName(given.name());
  std::vector<std::uint8_t> bytes;
  OpenFailure ignored;
  DumpTrack dump;
  if (ReadDescriptor(given, &bytes, &ignored) && !ParseAlcohol(bytes, name, &dump)) {
    return {dump.file};
  }
  return {WithExtension(name, ".mdf")};
}

bool RecogniseAlcohol(const Probe& probe) {
  return probe.head.size() >= kAlcoholSignature.size() &&
         std::memcmp(probe.head.data(), kAlcoholSignature.data(), kAlcoholSignature.size()) == 0;
}

// The offset of a Nero image's first chunk, from its footer.
std::optional<std::uint64_t> NeroFooter(ByteSource& bytes, std::error_code* error) {
  std::array<std::uint8_t, 12> last{};
  const std::uint64_t size = bytes.size();
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, last.size()));
  const ByteRead read = bytes.ReadAt(size - wanted, std::span(last).first(wanted));
  *error = read.error;
  if (read.error || read.got < wanted) {
    return std::nullopt;
  }
  return NeroChunksAt(std::span(last).first(wanted));
}

bool RecogniseNero(const Probe& probe) {
  std::error_code ignored;
  const std::optional<std::uint64_t> chunks = NeroFooter(probe.bytes, &ignored);
  return chunks && *chunks < probe.bytes.size();
}

bool OpenNero(std::unique_ptr<ByteSource> given, Neighbours& /*neighbours*/, OpenedTrack* opened,
              OpenFailure* failure) {
  const std::optional<std::uint64_t> chunksAt = NeroFooter(*given, &failure->error);
  const std::uint64_t size = given->size();
  if (!chunksAt || *chunksAt >= size) {
    return Refuse(failure, {0, failure->error ? failure->error.message()
                                              : "the file changed while it was read"});
  }
  if (size - *chunksAt > kMostDescriptorBytes) {
    return Refuse(failure, {0, "its chunks take " + std::to_string(size - *chunksAt) +
                                   " bytes, more than 4 MiB"});
  }
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(size - *chunksAt));
  const ByteRead read = given->ReadAt(*chunksAt, tail);
  if (read.error || read.got < tail.size()) {
    failure->error = read.error ? read.error : std::make_error_code(std::errc::io_error);
    return Refuse(failure, {0, failure->error.message()});
  }
  DumpTrack dump;
  if (const auto wrong = ParseNero(tail, *chunksAt, &dump)) {
    return Refuse(failure, *wrong);
  }
  SectorFormat& format = dump.layout.format;
  if (format.bytes >= kRawBytes) {  // raw sectors say their mode
    std::array<std::uint8_t, 16> header{};
    const ByteRead first = given->ReadAt(dump.layout.firstByte, header);
    if (first.got == header.size() && (header[15] == 1 || header[15] == 2)) {
      format.mode = header[15];
      format.dataOffset = header[15] == 1 ? kMode1Raw.dataOffset : kMode2Raw.dataOffset;
    }
  }
  dump.layout.endByte = std::min(dump.layout.endByte, size);
  opened->track = std::make_unique<ImageTrack>(std::move(given), dump.layout);
  return true;
}

}  // namespace

const Container kCloneCd = {"CloneCD descriptor",
                            [](const Probe& probe) { return LooksLikeCloneCd(probe.head); },
                            OpenCloneCd, CloneCdNames};

const Container kAlcohol = {"Alcohol descriptor", RecogniseAlcohol, OpenAlcohol, AlcoholNames};

const Container kNero = {"Nero image", RecogniseNero, OpenNero, nullptr};

}  // namespace cgvw::disc
