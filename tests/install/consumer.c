/* Walks an archive through the installed library: prints each entry name. */
#include <stdio.h>
#include <string.h>

#include <raziza3z.h>

int main(int argc, char** argv) {
  char path[256];
  EntryInfo info;
  int32_t r;
  int count = 0;
  if (argc != 2 || strlen(argv[1]) > 255) return 2;
  strcpy(path, argv[1]);
  while ((r = QEN_NEXTLOOP(path, 0, &info)) == 0) {
    printf("%s\n", info.name);
    ++count;
  }
  return r == 1 && count > 0 ? 0 : 1;
}
