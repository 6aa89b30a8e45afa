/* The built-in catalogue in C (C99 or later) and C++: the rows of the 161
 * pictures that a run converts, in order. C++ code includes
 * catalog/catalogue.h, which gives the same rows as std::array. */
#ifndef TVRCGCV_CATALOG_CATALOGUE_C_H
#define TVRCGCV_CATALOG_CATALOGUE_C_H

#include "cgvw/descriptors_c.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A catalogue row: the picture's descriptor and a Shift-JIS label. A row
 * whose Category is null ends the catalogue. */
typedef struct TCatalogEntry {
  TCGVwImage Image;
  const char* Category;
} TCatalogEntry;

/* The built-in catalogue: 161 rows and a terminating row whose Category is
 * null (C++: Catalogue in catalog/catalogue.h, the same rows). */
extern const TCatalogEntry* const CGVwCatalogue;

#ifdef __cplusplus
}
#endif

#endif /* TVRCGCV_CATALOG_CATALOGUE_C_H */
