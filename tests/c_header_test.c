/* Compiled as C: the public header must be valid C and link against the library. */
#include <stdio.h>
#include <string.h>

#include "raziza3z.h"

int main(void) {
  EntryInfo info;
  memset(&info, 0, sizeof info);
  if (sizeof(EntryInfo) != 548 || sizeof(EntryHeader) != 36) return 1;
  if (GETSFP() != 0) return 2;
  if (SETSFP(1234) != 1234 || GETSFP() != 1234) return 3;
  if (QEN_RESETDLL() != 0 || GETSFP() != 0) return 4;
  if (strcmp(QEN_DECRYPTKEY("pw"), "pw") != 0) return 5;
  puts("c header ok");
  return 0;
}
