/*
 * raziza3z: support library of a self-extracting installer.
 *
 * A host setup program drives the library through these exported C
 * functions.  Every argument is one 32-bit slot on 32-bit Windows, where the
 * functions use the stdcall convention and are exported undecorated at fixed
 * ordinals.  Elsewhere they are ordinary C functions.
 */
#ifndef RAZIZA3Z_H
#define RAZIZA3Z_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define RZ_CALL __stdcall
#else
#define RZ_CALL
#endif

#if defined(_WIN32)
#define RZ_API
#elif defined(__GNUC__)
#define RZ_API __attribute__((visibility("default")))
#else
#define RZ_API
#endif

#ifdef __cplusplus
#define RZ_STATIC_ASSERT(c, m) static_assert(c, m)
extern "C" {
#else
#define RZ_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

/* A host window handle (HWND on Windows; an opaque value elsewhere). */
typedef void* RZ_HWND;

/* ---- Archive format records ------------------------------------------ */

#pragma pack(push, 1)
/* The 36-byte entry header, little-endian, as stored behind a signature. */
typedef struct EntryHeader {
  uint16_t version_needed;
  uint16_t attributes; /* bit 14 (0x4000): entry is encrypted */
  uint16_t method;     /* 2 = raw DEFLATE */
  uint16_t mod_time;   /* MS-DOS time */
  uint16_t mod_date;   /* MS-DOS date */
  uint32_t crc32;
  uint32_t packed_size;
  uint32_t unpacked_size;
  uint16_t reserved_22;
  uint16_t reserved_24;
  uint16_t reserved_26;
  uint32_t reserved_28;
  uint16_t name_length;
  uint16_t directory_length;
} EntryHeader;

/* The record QEN_NEXTLOOP fills for the host. */
typedef struct EntryInfo {
  EntryHeader header;
  char name[256];      /* zero-terminated */
  char directory[256]; /* zero-terminated */
} EntryInfo;
#pragma pack(pop)

RZ_STATIC_ASSERT(sizeof(EntryHeader) == 36, "EntryHeader must be 36 bytes");
RZ_STATIC_ASSERT(sizeof(EntryInfo) == 548, "EntryInfo must be 548 bytes");
RZ_STATIC_ASSERT(offsetof(EntryHeader, crc32) == 10, "crc32 at offset 10");
RZ_STATIC_ASSERT(offsetof(EntryHeader, name_length) == 32, "name_length at offset 32");
RZ_STATIC_ASSERT(offsetof(EntryInfo, directory) == 292, "directory at offset 292");

/* Attribute bit that marks an encrypted entry. */
#define RZ_ATTR_ENCRYPTED 0x4000

/* ---- QEN_NEXTLOOP modes ---------------------------------------------- */

#define NEXT_MARK_SPANNED 1   /* treat the archive as spanned after this entry */
#define NEXT_READ_AND_RESET 2 /* read the entry, then reset the scan */

/* ---- QEN_UNPACK options ---------------------------------------------- */

#define UNPACK_QUIET 0x1
#define UNPACK_USE_DIRECTORY 0x2
#define UNPACK_SKIP_EXISTING 0x4
#define UNPACK_NO_PATH_PROMPT 0x8
#define UNPACK_TEST_ONLY 0x10
#define UNPACK_OVERWRITE 0x20
#define UNPACK_PROGRESS 0x4000
#define UNPACK_RENAME 0x20000

/* ---- Extraction state ------------------------------------------------ */

/* Abandon a scan: the next QEN_NEXTLOOP starts at the first entry.  Returns 0. */
RZ_API int32_t RZ_CALL QEN_RESETDLL(void);
/* Set where the entries begin (key 2961); any other key resets it to 0. */
RZ_API uint32_t RZ_CALL UDF1(uint32_t offset, uint32_t key);
/* Read and set the scan position (0 means the first entry). */
RZ_API uint32_t RZ_CALL GETSFP(void);
RZ_API uint32_t RZ_CALL SETSFP(uint32_t offset);
/* Store the password of encrypted entries; returns the stored copy. */
RZ_API const char* RZ_CALL QEN_DECRYPTKEY(const char* password);
/* Store the name used by QEN_UNPACK with UNPACK_RENAME ("" switches it off). */
RZ_API const char* RZ_CALL QEN_U_FILERENAME(const char* name);

/* ---- Archive walk ---------------------------------------------------- */

/* Read the next entry into *info.  path is a 256-byte buffer.
 * Results: 0 entry read, 1 end, 2 not an archive, 8 damaged, 21 cannot open,
 * 24 stop signature, 25 ZIP archive. */
RZ_API int32_t RZ_CALL QEN_NEXTLOOP(char* path, int32_t mode, EntryInfo* info);

/* ---- Extraction ------------------------------------------------------ */

/* Extract the entry positioned by the last QEN_NEXTLOOP from archive_path
 * into destination (empty: the current directory) under name (or the
 * QEN_U_FILERENAME name with UNPACK_RENAME).  spare is set to "\" when
 * empty.  options: UNPACK_* bits.  The entry is written to a temporary file
 * that replaces the output file only once it decoded completely with a
 * matching CRC-32; no failure leaves an output file or loses an existing one.
 * Results: 0; -1 skipped (exists); -2 cancelled by the host; -22 No to a
 * prompt; -30 Cancel to a prompt, or the data could not be continued;
 * 6 no entry positioned; 7 directory not created; 8 entry cut short;
 * 15 output file cannot be replaced or created; 20 write failure; 21 archive
 * cannot be opened; 28 volume failure after decoding; 31 CRC-32 mismatch;
 * 32 version above 16; 34, 36, 37, 38, 39 decoding errors (38: size
 * mismatch); 50 wrong password; 52 empty name or archive path; 53 stored
 * directory escapes the destination. */
RZ_API int32_t RZ_CALL QEN_UNPACK(const char* name, char* spare, const char* archive_path,
                                  const char* destination, uint32_t options);

/* ---- Messages, prompts and progress ---------------------------------- */

/* Replace message id (1-8, 10-18) with text, cut to 79 characters; returns
 * the stored copy, or null (nothing changed) for any other id.  Messages 4
 * and 13 take their value in place of their first "%s". */
RZ_API const char* RZ_CALL QEN_U_SETMSG(int32_t id, const char* text);
/* Bind progress notifications and the boxes' owner to window and register
 * the messages "RUZI1" (progress) and "VORE2" (cancel).  0, or 1 when the
 * window is null or a name could not be registered. */
RZ_API int32_t RZ_CALL QEN_UINIT_MP(RZ_HWND window);

/* ---- Directories ----------------------------------------------------- */

/* 1 when path names an existing file or directory, otherwise 0. */
RZ_API int32_t RZ_CALL QEN_FILEEXISTS(const char* path);
/* Create the directory path and every missing one above it.  One trailing
 * separator is removed from the caller's text (not from a root such as
 * "C:\").  0 when the directory exists afterwards, or the path is empty or
 * names a file; 7 after the error box when a level cannot be created (the
 * levels made before stay).  The current directory is not changed. */
RZ_API int32_t RZ_CALL QEN_CREATEPATH(char* path);

/* ---- HTTP download --------------------------------------------------- */

/* Results of GETHTTP besides 0 (the body is in the file).  A status other
 * than 200 and 204 is returned as its own number (401, 404, 500, 302, 206,
 * ...).  Only a download that succeeds replaces the output file: the body is
 * received into a new temporary file beside it, and on every failure that
 * file is removed and an existing output file stays as it was. */
#define GETHTTP_TOO_LONG 5010            /* a text does not fit its field; nothing sent */
#define GETHTTP_BAD_TEXT 5015            /* a control character (or a space in the path or host) */
                                         /* would break the request; nothing sent */
#define GETHTTP_NO_SOCKET 5020           /* no socket could be made */
#define GETHTTP_NO_CONNECT 5030          /* the connection was refused or failed */
#define GETHTTP_SEND_FAILED 5040         /* the request could not be sent */
#define GETHTTP_CANNOT_CREATE 5045       /* the output file cannot be created or replaced */
#define GETHTTP_WRITE_FAILED 5046        /* writing the output file failed */
#define GETHTTP_RECEIVE_FAILED 5050      /* receiving failed (the connection was reset) */
#define GETHTTP_STALLED 5055             /* nothing came for the stall time */
#define GETHTTP_BODY_SHORT 5060          /* the server closed before the announced length */
#define GETHTTP_HEADER_SHORT 5065        /* the server closed before the header ended */
#define GETHTTP_CANCELLED 5100           /* the host cancelled through the progress channel */
#define GETHTTP_NOT_HTTP 10010           /* the reply is not an HTTP/1.x response header */
#define GETHTTP_BAD_HEADER 10020         /* the header is unsafe to take: Content-Length lines */
                                         /* that disagree or cannot be read, a NUL or stray CR */
#define GETHTTP_UNSUPPORTED_CODING 10030 /* a Transfer-Encoding (chunked), not decoded */
#define GETHTTP_LOOKUP_FAILED 501000000  /* plus the resolver's error number */

/* Start the socket library before downloads: 0, -5001 (it would not start)
 * or -5002 (not the version asked for). */
RZ_API int32_t RZ_CALL WEBSTARTUP(void);
/* Stop the socket library: 0, or -1 on failure. */
RZ_API int32_t RZ_CALL WEBCLEANUP(void);
/* Fetch http://host[:port]path into the file output with one HTTP/1.0 GET.
 * port (low 16 bits; 0 takes the "http" service's port, then 80) applies in
 * direct mode; with proxy non-zero the request goes to proxy_host at
 * proxy_port with the absolute URL.  A direct request names the server in
 * a Host line ("host", with ":port" unless the port is 80).  user and
 * password ("" for none) give Basic credentials when both are set.
 * log_headers non-zero writes each response header line to the header log
 * (the first 128 lines of a reply).
 * unused4 and unused5 are not read.  Texts are at most 255 characters.
 * Returns 0 or a GETHTTP_ result, or the HTTP status. */
RZ_API int32_t RZ_CALL GETHTTP(const char* host, const char* path, const char* output,
                               uint32_t unused4, uint32_t unused5, uint32_t port, const char* user,
                               const char* password, uint32_t proxy, const char* proxy_host,
                               uint32_t proxy_port, uint32_t log_headers, const char* user_agent);

/* ---- Checksums ------------------------------------------------------- */

/* The CRC-32 register (without the final inversion) over the last tail_length
 * bytes of the file at path; 0 when the file cannot be opened.  A tail longer
 * than the file, or a negative one, reads nothing and gives 0xFFFFFFFF. */
RZ_API uint32_t RZ_CALL SFXSIG(const char* path, int32_t tail_length);

/* ---- Install-script services ---------------------------------------- */

/* Name the install script (an INI file), the install mode, the OS and
 * condition masks and the install log for the other script services.  On
 * POSIX the log handle is a file descriptor opened for writing by the host.
 * Returns log_handle. */
RZ_API int32_t RZ_CALL INITMAK(const char* script_path, int32_t install_mode, uint32_t os_mask,
                               uint32_t condition_mask, int32_t log_handle);
/* Store a text for the host; returns the stored copy. */
RZ_API const char* RZ_CALL INITSCRIPT(const char* text);
/* 0 when item (its keys "+<n>os" and "+<n>cv" in section) applies to this
 * installation, 1 when one of them excludes it. */
RZ_API int32_t RZ_CALL CHECKCONDITION(int32_t item, const char* section);
/* Append "label value\r\n" to the log: the bytes written, or -1. */
RZ_API int32_t RZ_CALL LOGINFO(const char* label, const char* value, int32_t log_handle);

/* Replace the first occurrence of search in text by replacement when the
 * result with its terminator fits capacity bytes.  0 when text is unchanged;
 * otherwise an address inside text (replacement's length minus search's
 * length behind the start of the occurrence). */
RZ_API char* RZ_CALL strnsub(char* text, const char* search, const char* replacement,
                             int32_t capacity);
/* Replace the script's variables in text (a 1024-byte buffer) over
 * pass_limit - 1 passes.  0 when text holds no '%', otherwise the last pass
 * number (pass_limit, or 1 when it is below 2). */
RZ_API int32_t RZ_CALL CONVERTMACRO(char* text, int32_t pass_limit);
/* The directory that holds the deepest component of path equal to component
 * ("\Name"), into result (128 bytes): 1, or 0 with result untouched when
 * nothing matches or the answer does not fit. */
RZ_API int32_t RZ_CALL PATHMACRO(const char* path, const char* component, char* result);

/* Root codes of WRITEREG items and GETREG. */
#define RZ_ROOT_CLASSES_ROOT 1
#define RZ_ROOT_CURRENT_USER 2
#define RZ_ROOT_LOCAL_MACHINE 3
#define RZ_ROOT_USERS 4
#define RZ_ROOT_CURRENT_CONFIG 5

/* Write the registry items of the script's "REG" section whose tag is in
 * tags (untagged items always) and whose conditions hold; logs each write.
 * Returns the item count "Ndx" plus one. */
RZ_API int32_t RZ_CALL WRITEREG(const char* tags);
/* Read a value's raw data into result (128 bytes; at most 127 bytes of data):
 * 1 when read (or when name is empty and the key exists), else 0 with result
 * empty.  With install mode 2 and selector 3 the name read is "Common name". */
RZ_API int32_t RZ_CALL GETREG(int32_t root, const char* key_path, const char* name, char* result,
                              int32_t selector);

/* Create the shortcut link_path to target after replacing the script's
 * variables in target, icon_path, working_dir and arguments (1024-byte
 * buffers).  hot_key: low byte the key, used with Ctrl+Shift; 0 for none.
 * On POSIX a link path ending in ".desktop" gets a desktop entry.  Returns 0. */
RZ_API int32_t RZ_CALL CREATELINK(char* target, const char* link_path, char* working_dir,
                                  char* icon_path, int32_t icon_index, char* arguments,
                                  uint32_t hot_key);
/* Create the last directory of path.  Returns 1. */
RZ_API int32_t RZ_CALL CREATEFOLDER(const char* path);
/* Register the type library at path: 0, or the failing HRESULT. */
RZ_API int32_t RZ_CALL REGTLB(const char* path);

#ifdef __cplusplus
}
#endif

#endif /* RAZIZA3Z_H */
