/* Buffered streams and formatted output of the module library. */
#ifndef VELT_MODLIB_STDIO_H
#define VELT_MODLIB_STDIO_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FILE FILE;

#define EOF (-1)
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2

/* Descriptor 1, line buffered, and descriptor 2, unbuffered. */
extern FILE* const stdout;
extern FILE* const stderr;
#define stdout stdout
#define stderr stderr

/* Opens `path` with mode "r", "w" or "a", each optionally with '+', 'b', 'e'
   (close on exec) and 'x' (exclusive create). Files are fully buffered with a
   1024-byte buffer. Returns NULL and sets errno on failure. */
FILE* fopen(const char* path, const char* mode);
/* Writes out buffered output, closes the descriptor and releases the stream.
   Returns 0, or EOF when the close failed or the stream is in error
   (a failed write, including this final flush). */
int fclose(FILE* stream);
/* Reads up to nmemb items of `size` bytes; returns the number of whole items
   read. End of file and errors are told apart by the stream's flags. */
size_t fread(void* data, size_t size, size_t nmemb, FILE* stream);
/* Writes nmemb items of `size` bytes through the stream's buffer; returns the
   number of items accepted. A failed or short write sets the error flag. */
size_t fwrite(const void* data, size_t size, size_t nmemb, FILE* stream);
/* Writes one byte; returns it as unsigned char, or EOF on error. */
int fputc(int c, FILE* stream);
/* Writes out pending output, drops read-ahead and moves the position.
   Returns 0, or -1 with errno set. */
int fseek(FILE* stream, long offset, int whence);
/* The stream's position, buffered bytes included; -1 with errno on failure. */
long ftell(FILE* stream);
/* Writes out pending output of one stream, or of every stream when NULL.
   Returns 0, or EOF on a failed write. */
int fflush(FILE* stream);
/* Non-zero once a read or write on the stream has failed. */
int ferror(FILE* stream);
/* Writes `text` and a line end to stdout; returns 0 or EOF. */
int puts(const char* text);
/* Formatted output to stdout. Conversions: d i u x X o c s p %, with flags
   - 0 + space #, width, precision and the length modifiers hh h l ll z j t.
   Returns the number of characters written, or -1. */
int printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
/* Formats like printf into `buffer`, writing at most `size` bytes including
   the terminating NUL. Returns the length the full text would have. */
int snprintf(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#ifdef __cplusplus
}
#endif

#endif
