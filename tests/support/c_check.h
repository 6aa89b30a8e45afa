/* The checks of the C test programs: CHECK counts a failed condition in
 * `failures` and says where; a temporary drive folder; WriteFile writes a
 * whole file or ends the program. One translation unit a program, so the
 * statics are its own. Needs _XOPEN_SOURCE 700 (mkdtemp, setenv). */
#ifndef TVRCGCV_TESTS_C_CHECK_H
#define TVRCGCV_TESTS_C_CHECK_H

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static int failures = 0;

#define CHECK(condition)                                                      \
  do {                                                                        \
    if (!(condition)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                             \
    }                                                                         \
  } while (0)

static void WriteFile(const char* path, const unsigned char* bytes, size_t size) {
  FILE* file = fopen(path, "wb");
  if (file == NULL || fwrite(bytes, 1, size, file) != size || fclose(file) != 0) {
    perror(path);
    exit(2);
  }
}

/* Makes the folder `root` (a mkdtemp template, filled in) with the drive
 * folder root/q in it, whose path goes to `drive`, and makes root the
 * classic drives' folder (TVRCGCV_DRIVE_ROOT). Ends the program if it
 * cannot. */
static void MakeDrive(char* root, char* drive, size_t driveSize) {
  if (mkdtemp(root) == NULL) {
    perror("mkdtemp");
    exit(2);
  }
  snprintf(drive, driveSize, "%s/q", root);
  if (mkdir(drive, 0700) != 0 || setenv("TVRCGCV_DRIVE_ROOT", root, 1) != 0) {
    perror(drive);
    exit(2);
  }
}

/* Removes root/NAME for each of the `count` names, then the drive folder
 * and the root; returns the program's exit status. */
static int Finish(const char* root, const char* const* names, int count) {
  char path[512];
  int i;
  for (i = 0; i < count; ++i) {
    snprintf(path, sizeof path, "%s/%s", root, names[i]);
    unlink(path);
  }
  snprintf(path, sizeof path, "%s/q", root);
  rmdir(path);
  rmdir(root);
  if (failures == 0) {
    puts("all checks passed");
  }
  return failures == 0 ? 0 : 1;
}

#endif /* TVRCGCV_TESTS_C_CHECK_H */
