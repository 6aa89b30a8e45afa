// Windows mounts disc images as drives itself: the classic drives need no
// reader of their own.
#include "cgvw/disc_image.h"

namespace cgvw {

void EnableImageDrives() noexcept {}

}  // namespace cgvw
