#ifndef PLATFORM_COMMON_TRACE_H
#define PLATFORM_COMMON_TRACE_H

/* Appends `line` and a newline to the file named by the environment variable RASK_TRACE, when it
   is set and not empty; otherwise does nothing. The file is opened (O_APPEND|O_CREAT), written
   with one write and closed for every line, so lines from several threads and from processes that
   replaced each other's images stay whole and in order. Failures are ignored: tracing never
   changes what the caller sees. */
void trace_line(const char *line);

/* True when RASK_TRACE names a file, so that callers can skip building lines nobody reads. */
int trace_enabled(void);

#endif
