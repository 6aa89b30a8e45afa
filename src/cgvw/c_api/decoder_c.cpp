// The decoders of the C API: their settings, their problem texts, the
// statuses' texts, and what a picture is before it is decoded.
#include <algorithm>
#include <new>
#include <string>

#include "handles.h"

namespace cgvw::c_api {

int Fail(cgvw_decoder* decoder, int status, const std::string& text) noexcept {
  return Fail(decoder, status, text.c_str());
}

int Fail(cgvw_decoder* decoder, int status, const char* text) noexcept {
  if (decoder != nullptr) {
    try {
      decoder->problem = text;
    } catch (const std::bad_alloc&) {
      decoder->problem.clear();
    }
  }
  return status;
}

std::string ProblemText(const Problem& problem, Status status) {
  if (!problem.field.empty()) {
    return problem.field;
  }
  if (problem.file.empty()) {
    return {};
  }
  return problem.file + ": " + (problem.error ? problem.error.message() : StatusText(status));
}

}  // namespace cgvw::c_api

namespace {

using cgvw::c_api::Fail;

// The hook of the typed options, which calls the decoder's C hook.
void CallHook(void* context, cgvw::Status status, bool canvas) {
  const auto* decoder = static_cast<const cgvw_decoder*>(context);
  decoder->hook(decoder->user, static_cast<int>(status), canvas ? 1 : 0);
}

// Where a limit lives in the typed options: one of the two set, neither
// for an unknown limit.
void LimitField(cgvw::Limits& limits, int limit, std::uint64_t** wide, std::uint32_t** narrow) {
  *wide = nullptr;
  *narrow = nullptr;
  switch (limit) {
    case CGVW_LIMIT_WIDTH:
      *narrow = &limits.maxWidth;
      break;
    case CGVW_LIMIT_HEIGHT:
      *narrow = &limits.maxHeight;
      break;
    case CGVW_LIMIT_PICTURE_BYTES:
      *wide = &limits.maxPictureBytes;
      break;
    case CGVW_LIMIT_READ_BYTES:
      *wide = &limits.maxReadBytes;
      break;
  }
}

}  // namespace

extern "C" {

const char* cgvw_status_text(int status) {
  switch (status) {
    case CGVW_INVALID_ARGUMENT:
      return "an argument is null or not one the call takes";
    case CGVW_BUFFER_TOO_SMALL:
      return "the buffer is too small";
    default:
      return cgvw::StatusText(static_cast<cgvw::Status>(status));
  }
}

int cgvw_decoder_new(cgvw_decoder** decoder) {
  if (decoder == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  *decoder = new (std::nothrow) cgvw_decoder;
  return *decoder == nullptr ? CGVW_NO_MEMORY : CGVW_OK;
}

void cgvw_decoder_free(cgvw_decoder* decoder) {
  delete decoder;
}

int cgvw_set_limit(cgvw_decoder* decoder, int limit, std::uint64_t value) {
  if (decoder == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  std::uint64_t* wide = nullptr;
  std::uint32_t* narrow = nullptr;
  LimitField(decoder->options.limits, limit, &wide, &narrow);
  if (wide != nullptr) {
    *wide = value;
  } else if (narrow != nullptr) {
    // A limit past what a descriptor can state is no limit.
    *narrow = static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFF));
  } else {
    return Fail(decoder, CGVW_INVALID_ARGUMENT, "no such limit");
  }
  return CGVW_OK;
}

int cgvw_get_limit(const cgvw_decoder* decoder, int limit, std::uint64_t* value) {
  if (decoder == nullptr || value == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  cgvw::Limits limits = decoder->options.limits;
  std::uint64_t* wide = nullptr;
  std::uint32_t* narrow = nullptr;
  LimitField(limits, limit, &wide, &narrow);
  if (wide == nullptr && narrow == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  *value = wide != nullptr ? *wide : *narrow;
  return CGVW_OK;
}

int cgvw_set_option(cgvw_decoder* decoder, int option, int value) {
  if (decoder == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  switch (option) {
    case CGVW_OPTION_BACKDROP:
      decoder->options.backdrop = value != 0;
      return CGVW_OK;
    case CGVW_OPTION_MAX_NESTING:
      if (value < 1) {
        return Fail(decoder, CGVW_INVALID_ARGUMENT, "the nesting of composites must be 1 or more");
      }
      decoder->options.maxNesting = value;
      return CGVW_OK;
  }
  return Fail(decoder, CGVW_INVALID_ARGUMENT, "no such option");
}

int cgvw_get_option(const cgvw_decoder* decoder, int option, int* value) {
  if (decoder == nullptr || value == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  switch (option) {
    case CGVW_OPTION_BACKDROP:
      *value = decoder->options.backdrop ? 1 : 0;
      return CGVW_OK;
    case CGVW_OPTION_MAX_NESTING:
      *value = decoder->options.maxNesting;
      return CGVW_OK;
  }
  return CGVW_INVALID_ARGUMENT;
}

int cgvw_set_composite_hook(cgvw_decoder* decoder, cgvw_composite_hook hook, void* user) {
  if (decoder == nullptr) {
    return CGVW_INVALID_ARGUMENT;
  }
  decoder->hook = hook;
  decoder->user = user;
  decoder->options.onCompositeFailure = hook == nullptr ? nullptr : CallHook;
  decoder->options.context = hook == nullptr ? nullptr : decoder;
  return CGVW_OK;
}

const char* cgvw_problem(const cgvw_decoder* decoder) {
  return decoder == nullptr ? "" : decoder->problem.c_str();
}

int cgvw_missing_source_bytes(const cgvw_decoder* decoder) {
  return decoder != nullptr && decoder->missingBytes ? 1 : 0;
}

}  // extern "C"
