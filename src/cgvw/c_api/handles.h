// The handles of the C API (cgvw/decode_c.h): what a cgvw_source and a
// cgvw_decoder hold.
#pragma once

#include <memory>
#include <string>

#include "cgvw/decode.h"
#include "cgvw/decode_c.h"

struct cgvw_source {
  std::unique_ptr<cgvw::Source> source;
  cgvw::MemorySource* memory = nullptr;  // the source, when it is one (files are added to it)
};

struct cgvw_decoder {
  cgvw::DecodeOptions options;
  cgvw_composite_hook hook = nullptr;
  void* user = nullptr;
  std::string problem;  // of the last call that failed
  bool missingBytes = false;
};

namespace cgvw::c_api {

// Sets the decoder's problem text (a failure to store it leaves it empty:
// the status still says what happened) and returns `status`.
int Fail(cgvw_decoder* decoder, int status, const std::string& text) noexcept;
int Fail(cgvw_decoder* decoder, int status, const char* text) noexcept;

// The text of a typed call's Problem: the field, or the file and the
// system's reason; "" when it names neither.
std::string ProblemText(const Problem& problem, Status status);

// Writes the rows (and the palette) of a decoded picture as `output` asks;
// the output has been checked against the picture.
void WritePicture(const PictureView& picture, const cgvw_output& output);

}  // namespace cgvw::c_api
