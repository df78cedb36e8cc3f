/* The program's numbered texts: the one list that the portable string table is built from and
   that the resource script expands into its STRINGTABLE. Only preprocessor lines, so that both
   the C++ compiler and the resource compiler can read it.

   VANTREL_STRINGS(X) calls X(number, name, text) once per entry. */
#ifndef VANTREL_RES_STRINGS_H
#define VANTREL_RES_STRINGS_H

#define IDS_ABOUTBOX 101
#define IDS_APPNAME 102
#define IDS_ERROR_CAPTION 105
#define IDS_VFW_TOO_OLD 106
#define IDS_TOO_MANY_STREAMS 107
#define IDS_CANNOT_OPEN 109
#define IDS_CANNOT_PASTE 110
#define IDS_SAVE_UNKNOWN_ERROR 113
#define IDS_COPY_FAILED 116
#define IDS_CLIPBOARD_PUT_FAILED 118
#define IDS_CANNOT_OVERWRITE 121

#define VANTREL_STRINGS(X)                                              \
    X(IDS_ABOUTBOX, "&About AVI Vantrel")                               \
    X(IDS_APPNAME, "AVIVANTREL")                                        \
    X(IDS_ERROR_CAPTION, "AVIVANTREL Error")                            \
    X(IDS_VFW_TOO_OLD, "Video for Windows version is too old")          \
    X(IDS_TOO_MANY_STREAMS, "Exceeded maximum number of streams")       \
    X(IDS_CANNOT_OPEN, "Unable to open '%s'")                           \
    X(IDS_CANNOT_PASTE, "Cannot paste into this stream")                \
    X(IDS_SAVE_UNKNOWN_ERROR, "Error saving AVI file with unknown error") \
    X(IDS_COPY_FAILED, "Error copying stream")                          \
    X(IDS_CLIPBOARD_PUT_FAILED, "Couldn't put streams on clipboard")    \
    X(IDS_CANNOT_OVERWRITE, "Overwriting an AVI file is not possible")

#endif
