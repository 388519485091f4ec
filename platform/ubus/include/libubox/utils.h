/*
 * utils.h - small helpers shared by the libubox headers
 *
 * Host build of the libubox subset. Like the device's libubox headers, this
 * file has no extern "C" guard: C++ code wraps the include itself.
 */
#ifndef __LIBUBOX_UTILS_H
#define __LIBUBOX_UTILS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifndef ARRAY_SIZE
#define ARRAY_SIZE(arr) (sizeof(arr) / sizeof((arr)[0]))
#endif

#ifndef container_of
#define container_of(ptr, type, member) ((type *)((char *)(ptr)-offsetof(type, member)))
#endif

#ifndef __packed
#define __packed __attribute__((packed))
#endif

#ifndef __hidden
#define __hidden __attribute__((visibility("hidden")))
#endif

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define cpu_to_be64(x) ((uint64_t)(x))
#define cpu_to_be32(x) ((uint32_t)(x))
#define cpu_to_be16(x) ((uint16_t)(x))
#else
#define cpu_to_be64(x) __builtin_bswap64((uint64_t)(x))
#define cpu_to_be32(x) __builtin_bswap32((uint32_t)(x))
#define cpu_to_be16(x) __builtin_bswap16((uint16_t)(x))
#endif
#define be64_to_cpu(x) cpu_to_be64(x)
#define be32_to_cpu(x) cpu_to_be32(x)
#define be16_to_cpu(x) cpu_to_be16(x)

#endif
