#include "cgvw/cgvw.h"

// Written once, before the first picture, by the conversion run.
char SourceRoot[kSourceRootSize] = "c:\\";
