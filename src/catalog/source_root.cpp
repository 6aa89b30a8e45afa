#include "catalog/descriptors.h"

// Written once, before the first picture, by the conversion run.
char SourceRoot[kSourceRootSize] = "c:\\";
