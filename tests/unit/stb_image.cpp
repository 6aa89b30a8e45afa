// stb_image's implementation, for the unit tests that read BMP and PNG files.
#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"
