/*
 * raziza3z host side for platforms without Windows' user interface services.
 *
 * On Windows a host gives the library a window and a message queue; here the
 * host registers callbacks and fills the library's per-thread message queue.
 */
#ifndef RAZIZA3Z_HOST_H
#define RAZIZA3Z_HOST_H

#include <stdint.h>

#include "raziza3z.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* RAZIZA3Z_HOST_H */
