// The program's console texts, stored as the Shift-JIS bytes that are
// written. The English meaning of each Japanese text is in the README.
#pragma once

#include <string_view>

namespace app::texts {

// "Tavorin CGコンバーター ver 1.0" (Tavorin CG converter)
inline constexpr std::string_view kBanner1 =
    "Tavorin CG\x83\x52\x83\x93\x83\x6F\x81\x5B\x83\x5E\x81\x5B ver 1.0";
inline constexpr std::string_view kBanner2 = "programmed    : the tvrcgcv project";
inline constexpr std::string_view kBanner3 = "last modified : 1998/08/21";
inline constexpr std::string_view kUsage = "usage: tvrcgcv.exe [CD-ROM drive character]";

// Progress text around the output name, written without a line end.
inline constexpr std::string_view kCreatingPrefix = "creating '";
inline constexpr std::string_view kCreatingSuffix = "'...";
inline constexpr std::string_view kDone = "done.";

// "エラーが発生しました。処理中断します。(^^;" (an error occurred; stopping)
inline constexpr std::string_view kDecodeFailed =
    "\x83\x47\x83\x89\x81\x5B\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42"
    "\x8F\x88\x97\x9D\x92\x86\x92\x66\x82\xB5\x82\xDC\x82\xB7\x81\x42(^^;";
// "失敗。" (failed)
inline constexpr std::string_view kLockFailed = "\x8E\xB8\x94\x73\x81\x42";
// "ファイルの生成に失敗しました。" (the file could not be created)
inline constexpr std::string_view kCreateFailed =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC\x90\xB6\x90\xAC\x82\xC9\x8E\xB8\x94\x73\x82\xB5"
    "\x82\xDC\x82\xB5\x82\xBD\x81\x42";
// "終了。" (finished)
inline constexpr std::string_view kFinished = "\x8F\x49\x97\xB9\x81\x42";

inline constexpr std::string_view kLineEnd = "\r\n";

// Standard error, when standard output cannot be written.
inline constexpr std::string_view kConsoleWriteFailed =
    "tvrcgcv: cannot write to standard output; stopping";

}  // namespace app::texts
