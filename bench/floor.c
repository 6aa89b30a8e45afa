/* The floor of a conversion: a C program that makes only the system calls a
 * conversion cannot do without, and nothing else. For each source range of
 * the plan (conversion_plan): open without blocking, fstat, pread, close;
 * for each output file: the two console writes of its row, then create a
 * temporary file, write the 14-byte header and the rest, close, rename over
 * the final name. The bytes written are zeros; what matters is the calls.
 *
 *   floor <plan> <drive folder>      in the output folder
 *   floor --usage                    the banner and usage lines, for start-up
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char kUsage[] =
    "Tavorin CG converter ver 1.0\r\nprogrammed    : the tvrcgcv project\r\n"
    "last modified : 1998/08/21\r\nusage: tvrcgcv.exe [CD-ROM drive character]\r\n";

static char g_buffer[1 << 20];

static int Fail(const char* what) {
  perror(what);
  return 1;
}

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--usage") == 0) {
    return write(STDOUT_FILENO, kUsage, sizeof kUsage - 1) < 0;
  }
  if (argc != 3) {
    fprintf(stderr, "usage: floor <plan> <drive folder> | floor --usage\n");
    return 2;
  }
  FILE* plan = fopen(argv[1], "r");
  if (plan == NULL) {
    return Fail(argv[1]);
  }
  char kind;
  char name[256];
  unsigned long offset;
  unsigned long size;
  char path[4096];
  while (fscanf(plan, " %c %255s", &kind, name) == 2) {
    if (kind == 'R' && fscanf(plan, "%lu %lu", &offset, &size) == 2) {
      snprintf(path, sizeof path, "%s/%s", argv[2], name);
      const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
      struct stat info;
      if (fd < 0 || fstat(fd, &info) != 0 || size > sizeof g_buffer ||
          pread(fd, g_buffer, size, (off_t)offset) < 0 || close(fd) != 0) {
        return Fail(path);
      }
    } else if (kind == 'W' && fscanf(plan, "%lu", &size) == 1) {
      char progress[64];
      const int length = snprintf(progress, sizeof progress, "creating '%s'...", name);
      snprintf(path, sizeof path, "%s.%ld.tvrcgcv.tmp", name, (long)getpid());
      const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0666);
      if (write(STDOUT_FILENO, progress, (size_t)length) != length || fd < 0 || size < 14 ||
          size - 14 > sizeof g_buffer || write(fd, g_buffer, 14) != 14 ||
          write(fd, g_buffer, size - 14) != (ssize_t)(size - 14) || close(fd) != 0 ||
          rename(path, name) != 0 || write(STDOUT_FILENO, "done.\r\n", 7) != 7) {
        return Fail(name);
      }
    } else {
      fprintf(stderr, "%s: a line that is no plan line\n", argv[1]);
      return 1;
    }
  }
  fclose(plan);
  return 0;
}
