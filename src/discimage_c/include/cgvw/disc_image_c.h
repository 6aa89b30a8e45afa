/* Disc images as sources of the C API (cgvw/decode_c.h), C99 or later:
 * everything the program's --image option reads (cgvw/disc_image.h says
 * which images those are). In the library tvrcgcv::discimage_c, with
 * pkg-config tvrcgcv-discimage-c:
 *   cc prog.c $(pkg-config --cflags --libs tvrcgcv-discimage-c)
 *
 *   cgvw_source* disc = NULL;
 *   char why[256];
 *   if (cgvw_source_new_disc_image("disc.cue", &disc, why, sizeof why) != CGVW_OK)
 *     fprintf(stderr, "%s\n", why);   -- "disc.cue:4: unknown keyword \"FOO\""
 */
#ifndef TVRCGCV_CGVW_DISC_IMAGE_C_H
#define TVRCGCV_CGVW_DISC_IMAGE_C_H

#include <stddef.h>

#include "cgvw/decode_c.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the disc image at `path` (UTF-8), told by its bytes whatever its
 * name, as a source of its file system's files: *source receives the
 * handle (free it with cgvw_source_free), or null on failure. The source
 * may be shared by threads decoding at once; their reads take turns.
 * CGVW_CANNOT_OPEN when the path is missing, no regular file, or no image
 * that can be read; then, if `problem` is not null, the reason in words
 * (naming the file and, for a cue sheet, the line) is put there,
 * zero-terminated and cut to `problem_size` bytes. CGVW_NO_MEMORY when
 * memory runs out, CGVW_INVALID_ARGUMENT for a null path or source. */
int cgvw_source_new_disc_image(const char* path, cgvw_source** source, char* problem,
                               size_t problem_size);

#ifdef __cplusplus
}
#endif

#endif /* TVRCGCV_CGVW_DISC_IMAGE_C_H */
