// The worked examples of docs/formats.md, decoded: every block marked
// "example" gives source files and descriptors, decodes and lists what
// comes out (the document's opening section gives the notation). Each
// decode goes through the typed API, the C API and the classic entry
// points, which must agree. The document is compiled into the test, so its
// examples and what this test checks cannot drift apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cgvw/cgvw.h"
#include "cgvw/decode.h"
#include "cgvw/decode_c.h"
#include "dib_test_util.h"
#include "formats_doc.h"
#include "test_support.h"

namespace {

struct Example {
  int firstLine;  // of the document, 1-based
  std::vector<std::string> lines;
};

std::vector<Example> Examples(std::string_view document) {
  std::vector<Example> examples;
  std::istringstream in{std::string(document)};
  std::string line;
  bool inside = false;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!inside && line == "```example") {
      examples.push_back({number + 1, {}});
      inside = true;
    } else if (inside && line == "```") {
      inside = false;
    } else if (inside) {
      examples.back().lines.push_back(line.substr(0, line.find('#')));
    }
  }
  return examples;
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

// A decimal number, or a hexadecimal one after 0x; nullopt for anything else.
std::optional<std::uint32_t> Number(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x")) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// Hexadecimal bytes, whole bytes between spaces, XX*N for N copies.
std::optional<std::vector<std::uint8_t>> Bytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (const std::string& word : Words(text)) {
    const std::size_t star = word.find('*');
    const std::string hex = word.substr(0, star);
    const auto copies = star == std::string::npos ? std::optional<std::uint32_t>(1)
                                                  : Number(std::string_view(word).substr(star + 1));
    if (hex.empty() || hex.size() % 2 != 0 || !copies) {
      return std::nullopt;
    }
    std::vector<std::uint8_t> one;
    for (std::size_t at = 0; at < hex.size(); at += 2) {
      const auto byte = Number("0x" + hex.substr(at, 2));
      if (!byte) {
        return std::nullopt;
      }
      one.push_back(static_cast<std::uint8_t>(*byte));
    }
    for (std::uint32_t n = 0; n < *copies; ++n) {
      bytes.insert(bytes.end(), one.begin(), one.end());
    }
  }
  return bytes;
}

// The files, descriptors and the last decode of one example. Descriptors
// point into the block's own node-based containers, which never move them.
class Block {
 public:
  // Follows one line; false (with a failure) for a line it cannot read.
  bool Follow(const std::string& line) {
    const std::size_t colon = line.find(':');
    const std::vector<std::string> words = Words(line.substr(0, colon));
    const std::string_view rest =
        colon == std::string::npos ? std::string_view{} : std::string_view(line).substr(colon + 1);
    if (words.empty()) {
      return true;
    }
    const std::string& verb = words[0];
    const auto bytes = Bytes(rest);
    if (verb == "file" && words.size() == 2 && words[1] != "header") {
      if (bytes) {
        files_[words[1]].insert(files_[words[1]].end(), bytes->begin(), bytes->end());
      }
      return bytes.has_value();
    }
    if (verb == "picture" && words.size() == 2) {
      return Describe(words[1], Words(rest));
    }
    if (verb == "decode" && (words.size() == 2 || line.ends_with(" over its backdrop"))) {
      return Decode(words[1], words.size() > 2);
    }
    if (verb == "status" && words.size() == 2 && decoded_) {
      const std::int32_t status = std::stoi(words[1]);
      EXPECT_EQ(classic_.status, status);
      EXPECT_EQ(testing_support::ClassicStatus(decoded_->status()), status);
      statusSeen_ = true;
      return true;
    }
    if (verb == "block" && words.size() == 2) {
      EXPECT_EQ(classicBlockSize_, Number(words[1]).value_or(~0u));
      return true;
    }
    if (!decoded_ || !*decoded_) {
      ADD_FAILURE() << "no picture to look at";
      return false;
    }
    const cgvw::Picture& picture = **decoded_;
    if (verb == "bits" && words.size() == 2) {
      EXPECT_EQ(picture.bitCount(), Number(words[1]).value_or(~0u));
    } else if (verb == "dib" && words.size() == 2) {
      EXPECT_EQ(picture.dib().size(), Number(words[1]).value_or(~0u));
    } else if (verb == "stride" && words.size() == 2) {
      EXPECT_EQ(picture.stride(), Number(words[1]).value_or(~0u));
    } else if (verb == "colour" && words.size() == 2 && bytes) {
      const auto table = picture.colourTable();
      const std::size_t at = std::size_t{Number(words[1]).value_or(~0u)} * 4;
      if (at + 4 > table.size()) {
        return false;
      }
      EXPECT_EQ(std::vector<std::uint8_t>(table.begin() + at, table.begin() + at + 4), *bytes);
    } else if ((verb == "row" || verb == "rows") && words.size() == 2 && bytes) {
      const std::size_t dash = words[1].find('-');
      const auto first = Number(words[1].substr(0, dash));
      const auto last = dash == std::string::npos ? first : Number(words[1].substr(dash + 1));
      for (std::uint32_t y = first.value_or(1); y <= last.value_or(0); ++y) {
        const auto row = picture.row(y);
        EXPECT_EQ(std::vector<std::uint8_t>(row.begin(), row.end()), *bytes) << "row " << y;
      }
      return first && last;
    } else if (line.starts_with("file header:") && bytes) {
      const auto header = picture.BmpFileHeader();
      EXPECT_EQ(std::vector<std::uint8_t>(header.begin(), header.end()), *bytes);
    } else {
      return false;
    }
    return true;
  }

 private:
  const char* Name(const std::string& name) { return names_.insert(name).first->c_str(); }

  // "FILE@OFFSET" and "FILE@OFFSET+SIZE".
  bool Range(const std::string& value, const char** file, std::uint32_t* offset,
             std::uint32_t* size) {
    const std::size_t at = value.find('@');
    const std::size_t plus = value.find('+');
    const auto number = Number(value.substr(at + 1, plus - at - 1));
    const auto bytes = Number(value.substr(plus + 1));
    *file = Name(value.substr(0, at));
    *offset = number.value_or(0);
    if (size != nullptr) {
      *size = bytes.value_or(0);
    }
    return at != std::string::npos && number && (size == nullptr || bytes);
  }

  bool Describe(const std::string& name, const std::vector<std::string>& fields) {
    TCGVwImage image{};
    std::vector<TCGVwLayer> layers;
    for (const std::string& field : fields) {
      const std::size_t equals = field.find('=');
      const std::string key = field.substr(0, equals);
      const std::string value = field.substr(equals + 1);
      const auto number = Number(value);
      bool read = number.has_value();
      if (key == "flags") {
        image.Flags = number.value_or(0);
      } else if (key == "width" || key == "height" || key == "posx" || key == "posy") {
        auto* target = key == "width"    ? &image.Width
                       : key == "height" ? &image.Height
                       : key == "posx"   ? &image.PosX
                                         : &image.PosY;
        *target = static_cast<std::uint16_t>(number.value_or(0));
      } else if (key == "backdrop") {
        image.Backdrop = &pictures_.at(value);
        read = true;
      } else if (key == "palette") {
        read = Range(value, &image.PalFile, &image.PalOffset, nullptr);
      } else if (key == "pixels") {
        read = Range(value, &image.PixFile, &image.PixOffset, &image.PixSize);
      } else if (key == "map") {
        TCGVwChunk& chunk = chunks_.emplace_back();
        read = value.starts_with("generated+")
                   ? (chunk.Size = Number(value.substr(10)).value_or(0)) != 0
                   : Range(value, &chunk.FileName, &chunk.Offset, &chunk.Size);
        image.Extra = &chunk;
      } else if (key == "layer") {
        const std::size_t at = value.find('@');
        const std::size_t comma = value.find(',');
        const auto x = Number(value.substr(at + 1, comma - at - 1));
        const auto y = Number(value.substr(comma + 1, value.find('/') - comma - 1));
        layers.push_back({&pictures_.at(value.substr(0, at)), value.ends_with("/t") ? 1u : 0u,
                          static_cast<std::uint16_t>(x.value_or(0)),
                          static_cast<std::uint16_t>(y.value_or(0))});
        read = x && y;
      }
      if (!read) {
        ADD_FAILURE() << "cannot read " << field;
        return false;
      }
    }
    if (!layers.empty()) {
      const auto& items = layerItems_.emplace_back(std::move(layers));
      image.Extra = &layerLists_.emplace_back(
          TCGVwLayers{static_cast<std::uint16_t>(items.size()), items.data()});
    }
    pictures_[name] = image;
    return true;
  }

  bool Decode(const std::string& name, bool overBackdrop) {
    Finish();
    source_.emplace();
    for (const auto& [file, bytes] : files_) {
      EXPECT_EQ(source_->Add(file, bytes), cgvw::Status::Ok);
      drive_.WriteFile(file, bytes);
    }
    const TCGVwImage& image = pictures_.at(name);
    cgvw::DecodeOptions options;
    options.backdrop = overBackdrop;
    cgvw::Problem problem;
    decoded_.emplace(cgvw::Decode(image, *source_, options, &problem));
    const std::uint32_t flag = overBackdrop ? 1 : 0;
    classic_ = testing_support::DecodeWith(CGVwDecode, image, &flag);
    classicBlockSize_ = classic_.bytes.size();
    statusSeen_ = false;
    if (*decoded_) {
      const auto dib = (*decoded_)->dib();
      EXPECT_EQ(classic_.status, 0);
      EXPECT_TRUE(classic_.bytes.size() >= dib.size() &&
                  std::equal(dib.begin(), dib.end(), classic_.bytes.begin()))
          << "the classic block differs";
      ExpectTheSameFromC(image, overBackdrop, **decoded_);
    } else {
      last_ = std::string(cgvw::StatusText(decoded_->status())) + " " + problem.field;
    }
    return true;
  }

  // A decode that failed is followed by its status.
  void Finish() {
    if (decoded_ && !*decoded_ && !statusSeen_) {
      ADD_FAILURE() << "the decode failed: " << last_;
    }
  }

  // The C API gives the same BMP file.
  void ExpectTheSameFromC(const TCGVwImage& image, bool overBackdrop,
                          const cgvw::Picture& picture) {
    cgvw_source* source = nullptr;
    cgvw_decoder* decoder = nullptr;
    ASSERT_EQ(cgvw_source_new_memory(&source), CGVW_OK);
    ASSERT_EQ(cgvw_decoder_new(&decoder), CGVW_OK);
    for (const auto& [file, bytes] : files_) {
      EXPECT_EQ(cgvw_source_add(source, file.c_str(), bytes.data(), bytes.size(), CGVW_BORROW),
                CGVW_OK);
    }
    EXPECT_EQ(cgvw_set_option(decoder, CGVW_OPTION_BACKDROP, overBackdrop ? 1 : 0), CGVW_OK);
    void* bmp = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(cgvw_decode_bmp(decoder, source, &image, &bmp, &size), CGVW_OK)
        << cgvw_problem(decoder);
    const auto header = picture.BmpFileHeader();
    std::vector<std::uint8_t> expected(header.begin(), header.end());
    expected.insert(expected.end(), picture.dib().begin(), picture.dib().end());
    const auto* bytes = static_cast<const std::uint8_t*>(bmp);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + size), expected) << "C differs";
    cgvw_free(bmp);
    cgvw_decoder_free(decoder);
    cgvw_source_free(source);
  }

  std::map<std::string, std::vector<std::uint8_t>> files_;
  std::set<std::string> names_;
  std::map<std::string, TCGVwImage> pictures_;
  std::deque<TCGVwChunk> chunks_;
  std::deque<std::vector<TCGVwLayer>> layerItems_;
  std::deque<TCGVwLayers> layerLists_;
  std::optional<cgvw::MemorySource> source_;
  std::optional<cgvw::Result<cgvw::Picture>> decoded_;
  testing_support::TestDrive drive_;
  testing_support::Decoded classic_;
  std::size_t classicBlockSize_ = 0;
  bool statusSeen_ = false;
  std::string last_;

 public:
  ~Block() { Finish(); }
};

TEST(FormatsDocument, EveryWorkedExampleDecodesAsWritten) {
  const std::vector<Example> examples = Examples(testing_support::kFormatsDocument);
  ASSERT_GE(examples.size(), 10u);
  for (const Example& example : examples) {
    Block block;
    for (std::size_t i = 0; i < example.lines.size(); ++i) {
      SCOPED_TRACE("docs/formats.md:" + std::to_string(example.firstLine + i));
      EXPECT_TRUE(block.Follow(example.lines[i])) << example.lines[i];
    }
  }
}

}  // namespace
