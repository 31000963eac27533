// SPDX-License-Identifier: Apache-2.0
// The integer, pointer and handle types of the platform API that the framework
// and the module are written against, mapped onto fixed-width Linux types.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;                 // a truth value: 0 is false, anything else true
using BYTE = std::uint8_t;        // 8 bits, unsigned
using WORD = std::uint16_t;       // 16 bits, unsigned
using DWORD = std::uint32_t;      // 32 bits, unsigned
using UINT = unsigned int;        // unsigned int
using LONG = std::int32_t;        // 32 bits, signed
using ULONG = std::uint32_t;      // 32 bits, unsigned
using SHORT = std::int16_t;       // 16 bits, signed
using CHAR = char;                // an 8-bit character
using TCHAR = char;               // the text character: 8-bit in this framework
using LPSTR = char*;              // a writable zero-terminated text
using LPCSTR = const char*;       // a zero-terminated text
using LPTSTR = char*;             // a writable zero-terminated text of TCHAR
using LPCTSTR = const char*;      // a zero-terminated text of TCHAR
using LPVOID = void*;             // any pointer
using LPCVOID = const void*;      // any pointer to constant data
using LPBYTE = BYTE*;             // a pointer to bytes
using UINT_PTR = std::uintptr_t;  // an unsigned integer the size of a pointer
using INT_PTR = std::intptr_t;    // a signed integer the size of a pointer
using LONG_PTR = std::intptr_t;   // a signed integer the size of a pointer
using WPARAM = std::uintptr_t;    // a message's first parameter
using LPARAM = std::intptr_t;     // a message's second parameter
using LRESULT = std::intptr_t;    // a message's result

#ifndef TRUE
#define TRUE 1  // the BOOL true value that functions return
#endif
#ifndef FALSE
#define FALSE 0  // the BOOL false value
#endif

// Module and instance handles are opaque pointers, as on the original platform.
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;  // a loaded module (executable or shared library)
using HMODULE = HINSTANCE;       // the same handle

// Classes and functions the libraries export to their host. The libraries are
// built with hidden visibility, so these marks are what a host can link
// against: a class so marked exports its members, its virtual table and its
// type information; a free function or a friend needs the mark of its own.
#define AFX_EXT_CLASS __attribute__((visibility("default")))
#define AFX_API_EXPORT __attribute__((visibility("default")))
