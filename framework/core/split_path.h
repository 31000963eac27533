// SPDX-License-Identifier: Apache-2.0
// _splitpath: divides a path into drive, directory, file name and extension,
// accepting both "/" and "\\" as separators, since hosts pass paths from
// Windows-era archives as well as Linux paths.
#pragma once

#include "framework/core/win_types.h"

#ifndef _MAX_PATH
#define _MAX_PATH 260  // longest path, terminator included
#endif
#ifndef _MAX_DRIVE
#define _MAX_DRIVE 3  // size of the drive buffer
#endif
#ifndef _MAX_DIR
#define _MAX_DIR 256  // size of the directory buffer
#endif
#ifndef _MAX_FNAME
#define _MAX_FNAME 256  // size of the file-name buffer
#endif
#ifndef _MAX_EXT
#define _MAX_EXT 256  // size of the extension buffer
#endif

// Any output may be null. Each output is zero-terminated and cut to fit its
// buffer of _MAX_DRIVE, _MAX_DIR, _MAX_FNAME or _MAX_EXT bytes. The drive is
// "X:" when the path starts with a letter and a colon; the directory runs to
// the last separator, included; the extension starts at the last dot of the
// last component, dot included; the file name is what lies between. The path
// is read as text of the ANSI code page: a byte of "\\" or "." inside a
// multi-byte character is part of it, and no output is cut inside one.
AFX_API_EXPORT void _splitpath(LPCSTR path, LPSTR drive, LPSTR dir, LPSTR fname, LPSTR ext);
