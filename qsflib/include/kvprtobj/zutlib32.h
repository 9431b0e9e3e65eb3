/* The Quick Setup file library, libzutlib32.so.
 *
 * It opens and reads Quick Setup library files, reads the Quick Setup
 * configuration file and computes the checksum of a library file.
 * libkvprtobj loads it at run time by name and finds the eight functions by
 * their plain names; the declarations here fix their types. Plain C linkage.
 *
 * Every function may be called from any thread at any time; one handle is
 * used by one thread at a time. Memory handed out (variable lists, id lists)
 * is released with PtMemFree. Every reader stays within the file it read,
 * whatever the counts and offsets inside the file claim: a file whose lists
 * do not fit in it is refused when it is opened (PTQSF_BAD_LAYOUT).
 *
 * Library file (format 1): a 74-byte header, then the records.
 *   0-1    "QS"
 *   2-3    checksum (little-endian), see PtFilChecksum; 0 while it is computed
 *   4      printer type (low byte)
 *   5      1 (the format)
 *   6      0
 *   7-43   zero
 *   44-47  file offset of the records of list 1 (32-bit little-endian; 0 when empty)
 *   48-49  number of records of list 1 (16-bit little-endian)
 *   50-53  file offset of the records of list 2
 *   54-55  number of records of list 2
 *   56-73  zero
 *   74..   records: 2-byte variable id, 1-byte value length L, L value bytes
 *
 * The configuration file layout is described in docs/quicksetup.md. */
#ifndef KVPRTOBJ_ZUTLIB32_H
#define KVPRTOBJ_ZUTLIB32_H

#define ZUTLIB_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* An open library file. */
typedef struct _QSFFILE _QSFFILE;
/* An open configuration file. */
typedef struct _QSFINI _QSFINI;

/* Results. 44 is fixed by the callers; the others are this library's own. */
enum PtQsfResult {
    PTQSF_OK = 0,
    PTQSF_BAD_ARGUMENT = 1,  /* a null pointer, a list other than 1 or 2, an unsupported mode */
    PTQSF_CANNOT_OPEN = 2,   /* the file cannot be opened */
    PTQSF_READ_ERROR = 3,    /* reading the file failed */
    PTQSF_NO_MEMORY = 8,
    PTQSF_BAD_CHECKSUM = 41, /* a library file whose stored checksum does not match */
    PTQSF_BAD_LAYOUT = 42,   /* a header cut short, lists outside the file, a file too large */
    PTQSF_NOT_QSF = 44,      /* not a library file for the printer type */
    PTQSF_NO_ENTRY = 45,     /* the configuration names no ids for the printer type and list */
    PTQSF_BAD_CONFIG = 46    /* the configuration's entry holds something that is not an id */
};

/* The library file's layout. */
enum PtQsfLayout {
    QSF_HEADER_SIZE = 74,
    QSF_OFFSET_CHECKSUM = 2,
    QSF_OFFSET_PRINTER_TYPE = 4,
    QSF_OFFSET_FORMAT = 5,
    QSF_OFFSET_LIST1 = 44,
    QSF_OFFSET_COUNT1 = 48,
    QSF_OFFSET_LIST2 = 50,
    QSF_OFFSET_COUNT2 = 54,
    QSF_FORMAT_LIBRARY = 1
};

/* Opens the library file at `path` for `printerType` (its low byte is
 * compared with header byte 4). 0 and *file set; PTQSF_NOT_QSF for a file
 * that does not begin with "QS", has another format byte or another printer
 * type; PTQSF_BAD_LAYOUT for a header cut short or records outside the file;
 * PTQSF_BAD_CHECKSUM; PTQSF_CANNOT_OPEN, PTQSF_READ_ERROR, PTQSF_NO_MEMORY.
 * *file is null after a failure. */
ZUTLIB_API int PtQsfOpen(const char* path, unsigned long printerType, _QSFFILE** file);
/* Closes the handle (null is allowed); 0. */
ZUTLIB_API int PtQsfClose(_QSFFILE* file);
/* List `list` (1 or 2) of an open file: *variables the packed records (2-byte
 * id, length byte L, L value bytes), *count their number; an empty list gives
 * null and 0. 0 on success; *variables is null and *count 0 after a failure. */
ZUTLIB_API int PtQsfGetVariables(_QSFFILE* file, int list, unsigned char** variables, unsigned short* count);

/* Opens the configuration file at `path`; `mode` 1 (read) is the only mode.
 * Null when the file cannot be read or the mode is another. */
ZUTLIB_API _QSFINI* PtIniOpen2(const char* path, int mode);
/* The variable ids of list `list` (1 or 2) for `printerType`: *ids holds
 * *count ids of 2 bytes each, most significant byte first. An entry present
 * but empty gives 0 with null and 0. PTQSF_NO_ENTRY when the configuration has
 * no such entry, PTQSF_BAD_CONFIG when it holds something other than ids. */
ZUTLIB_API int PtQsfIniGetSection(_QSFINI* ini, int list, unsigned long printerType, unsigned char** ids,
                                  unsigned short* count);
/* Closes the handle (null is allowed); 0. */
ZUTLIB_API int PtIniClose(_QSFINI* ini);

/* Releases memory this library handed out; null does nothing. */
ZUTLIB_API void PtMemFree(void* memory);

/* Computes the checksum of the file at `path` and stores it at `checksum`.
 * `mode` 0 with `size` 2 is the only form: the 16-bit CRC (polynomial 0x1021,
 * initial value 0xFFFF, bits not reflected, no final exclusive-or) of the
 * whole file with its bytes 2 and 3 taken as zero, stored as two bytes,
 * little-endian. 0 on success; PTQSF_BAD_ARGUMENT, PTQSF_CANNOT_OPEN,
 * PTQSF_READ_ERROR, PTQSF_BAD_LAYOUT (a file too large to be a Quick Setup
 * file), PTQSF_NO_MEMORY. */
ZUTLIB_API int PtFilChecksum(const char* path, int mode, int size, void* checksum);

#ifdef __cplusplus
}

/* Pointer types of the eight functions, as a loader resolves them. */
using PtQsfOpenProc = decltype(&PtQsfOpen);
using PtQsfCloseProc = decltype(&PtQsfClose);
using PtQsfGetVariablesProc = decltype(&PtQsfGetVariables);
using PtQsfIniGetSectionProc = decltype(&PtQsfIniGetSection);
using PtIniOpen2Proc = decltype(&PtIniOpen2);
using PtIniCloseProc = decltype(&PtIniClose);
using PtMemFreeProc = decltype(&PtMemFree);
using PtFilChecksumProc = decltype(&PtFilChecksum);
#endif

#endif
