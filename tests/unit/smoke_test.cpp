#include <gtest/gtest.h>

#include "catalog/catalogue.h"

TEST(Smoke, CatalogueHasItsRows) {
  EXPECT_EQ(Catalogue[kPictureRows].Category, nullptr);
}
