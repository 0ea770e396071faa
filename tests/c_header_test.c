/* Compiled as C: the public header must be valid C and link against the library. */
#include <stdio.h>
#include <string.h>

#include "raziza3z.h"
#include "raziza3z_host.h"

int main(void) {
  EntryInfo info;
  memset(&info, 0, sizeof info);
  if (sizeof(EntryInfo) != 548 || sizeof(EntryHeader) != 36) return 1;
  if (GETSFP() != 0) return 2;
  if (SETSFP(1234) != 1234 || GETSFP() != 1234) return 3;
  if (QEN_RESETDLL() != 0 || GETSFP() != 0) return 4;
  if (strcmp(QEN_DECRYPTKEY("pw"), "pw") != 0) return 5;
  if (QEN_U_SETMSG(9, "x") != NULL || strcmp(QEN_U_SETMSG(2, "E"), "E") != 0) return 20;
  if (QEN_UINIT_MP(NULL) != 1) return 21;
#if !defined(_WIN32) /* the host's message queue is the POSIX stand-in for Windows' own */
  if (rz_host_register_message("RUZI1") < 0xC000u) return 22;
  {
    RzHostMessage m;
    if (rz_host_post_message(NULL, rz_host_register_message("VORE2"), 0, 0) != 1) return 23;
    if (rz_host_take_message(&m) != 1 || m.message != rz_host_register_message("vore2")) return 24;
  }
  {
    uint32_t size = 0;
    if (rz_host_reg_query(0, "K", "", NULL, NULL, &size) != 1 || RZ_REG_MULTI_SZ != 7) return 25;
    if (rz_host_registry_status() > (RZ_STORE_WRITE_FAILED | RZ_STORE_BAD_LINES)) return 26;
  }
#endif
  puts("c header ok");
  return 0;
}
