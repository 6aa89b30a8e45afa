// What a user's terminal receives from the program: the Shift-JIS bytes of
// its texts with CR LF line ends. Written out here on their own, not taken
// from the program's sources, so that a wrong byte there is caught.
#pragma once

#include <cstdio>
#include <string>

namespace expected {

// "Tavorin CGコンバーター ver 1.0" and the two lines after it.
inline const std::string kBanner =
    "Tavorin CG\x83\x52\x83\x93\x83\x6F\x81\x5B\x83\x5E\x81\x5B ver 1.0\r\n"
    "programmed    : the tvrcgcv project\r\n"
    "last modified : 1998/08/21\r\n";
inline const std::string kUsage = "usage: tvrcgcv.exe [CD-ROM drive character]\r\n";
inline const std::string kDone = "done.\r\n";
// "エラーが発生しました。処理中断します。(^^;"
inline const std::string kDecodeFailed =
    "\x83\x47\x83\x89\x81\x5B\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42"
    "\x8F\x88\x97\x9D\x92\x86\x92\x66\x82\xB5\x82\xDC\x82\xB7\x81\x42(^^;\r\n";
// "ファイルの生成に失敗しました。"
inline const std::string kCreateFailed =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC\x90\xB6\x90\xAC\x82\xC9\x8E\xB8\x94\x73\x82\xB5"
    "\x82\xDC\x82\xB5\x82\xBD\x81\x42\r\n";
// "失敗。"
inline const std::string kFailed = "\x8E\xB8\x94\x73\x81\x42\r\n";
// "終了。"
inline const std::string kFinished = "\x8F\x49\x97\xB9\x81\x42\r\n";

inline constexpr int kRows = 161;

inline std::string OutputName(int row) {
  char name[32];
  std::snprintf(name, sizeof name, "tvrcg%03d.bmp", row);
  return name;
}

// The progress text of a row, which has no line end of its own.
inline std::string Progress(int row) {
  return "creating '" + OutputName(row) + "'...";
}

// The whole console output of a run that converts rows 0 to stopRow - 1 and
// then ends row stopRow with `failure`; a stopRow of kRows is a complete run.
inline std::string Transcript(int stopRow, const std::string& failure = kDecodeFailed) {
  std::string text = kBanner;
  for (int row = 0; row < stopRow; ++row) {
    text += Progress(row) + kDone;
  }
  text += stopRow < kRows ? Progress(stopRow) + failure : kFinished;
  return text;
}

}  // namespace expected
