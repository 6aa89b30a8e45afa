// Misuses of the library that must not compile. As it stands (no MISUSE_
// macro) the file compiles with everything else, which shows that the
// harness works; each CompileFail test builds it with one macro defined and
// passes when the compiler refuses the line for using a deleted function.
#include <cstdint>
#include <vector>

#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"
#include "cgvw/decode.h"

std::vector<std::uint8_t> Load();
cgvw::Picture Make();

std::uint32_t Misuse(cgvw::MemorySource& disc, const std::vector<std::uint8_t>& bytes) {
  std::uint32_t sum = 0;
  // What is allowed: bytes that live on, a copy of a temporary's, a
  // picture through a Result that lives on, a pointer to a descriptor's
  // pointer.
  disc.Add("a.bin", bytes);
  disc.Add("b.bin", Load(), cgvw::kCopy);
  const cgvw::Result<cgvw::Picture> result = cgvw::Decode(Catalogue[0].Image, disc);
  const cgvw::Picture& picture = *result;
  sum += picture.width() + static_cast<std::uint32_t>(result->dib().size());
  const TCGVwImage* image = &Catalogue[0].Image;
  platform::HGLOBAL block = nullptr;
  sum += static_cast<std::uint32_t>(CGVwDecode(&image, nullptr, &block));
#if defined(MISUSE_RESULT_OF_TEMPORARY)
  const cgvw::Picture& dangling = *cgvw::Decode(Catalogue[0].Image, disc);
  sum += dangling.width();
#elif defined(MISUSE_MEMBER_OF_TEMPORARY_RESULT)
  const auto rows = cgvw::Decode(Catalogue[0].Image, disc)->pixels();
  sum += static_cast<std::uint32_t>(rows.size());
#elif defined(MISUSE_SPAN_OF_TEMPORARY_PICTURE)
  const auto dib = Make().dib();
  sum += static_cast<std::uint32_t>(dib.size());
#elif defined(MISUSE_ADD_TEMPORARY)
  disc.Add("c.bin", Load());
#elif defined(MISUSE_DECODE_DESCRIPTOR)
  sum += static_cast<std::uint32_t>(CGVwDecode(&Catalogue[160].Image, nullptr, &block));
#endif
  return sum;
}
