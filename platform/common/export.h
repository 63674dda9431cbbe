#ifndef PLATFORM_COMMON_EXPORT_H
#define PLATFORM_COMMON_EXPORT_H

/* The libraries are compiled with hidden visibility; only what carries this mark is exported. */
#define PLATFORM_EXPORT __attribute__((visibility("default")))

#endif
