#include "output_names.h"

#include <cstring>
#include <string>

#include "platform/output_files.h"

namespace platform {

namespace output_names {

std::optional<unsigned long> TemporaryOwner(std::string_view fileName) {
  if (!fileName.ends_with(kTemporarySuffix)) {
    return std::nullopt;
  }
  fileName.remove_suffix(kTemporarySuffix.size());
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == fileName.size() ||
      fileName.size() - dot - 1 > 9) {
    return std::nullopt;  // no final name, or no (or an implausible) process number
  }
  unsigned long owner = 0;
  for (const char c : fileName.substr(dot + 1)) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    owner = owner * 10 + static_cast<unsigned long>(c - '0');
  }
  return owner;
}

Pending& PendingOutput() {
  static Pending pending;
  return pending;
}

}  // namespace output_names

std::string TemporaryNameFor(std::string_view finalPath) {
  std::string name(finalPath);
  name += '.';
  name += std::to_string(output_names::CurrentProcessId());
  name += output_names::kTemporarySuffix;
  return name;
}

void SetPendingOutput(const char* temporaryPath) {
  output_names::Pending& pending = output_names::PendingOutput();
  pending.set = false;
  const std::size_t length = temporaryPath == nullptr ? 0 : std::strlen(temporaryPath);
  if (length == 0 || length >= output_names::Pending::kCapacity) {
    return;  // too long to keep: a later run removes what an interruption leaves
  }
  std::memcpy(pending.path, temporaryPath, length + 1);
  pending.set = true;
}

void ClearPendingOutput() {
  output_names::PendingOutput().set = false;
}

}  // namespace platform
