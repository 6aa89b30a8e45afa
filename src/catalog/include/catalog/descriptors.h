// Kept for programs written against earlier versions, where the picture
// descriptors lived here: they are the decoding layer's own now
// (cgvw/descriptors.h), the catalogue's rows are in catalog/catalogue.h and
// SourceRoot belongs to the classic entry points (cgvw/cgvw.h).
#pragma once

#include "catalog/catalogue.h"
#include "cgvw/cgvw.h"
#include "cgvw/descriptors.h"
