// SPDX-License-Identifier: Apache-2.0
// Loading extension modules at run time. A module runs its start-up from ELF
// constructors, which cannot make dlopen fail; instead it reports to the
// framework whether its attach succeeded, and AfxLoadLibrary unloads a module
// that reports failure and returns null, as a loader does when a library's
// entry routine refuses to attach.
#pragma once

#include "framework/core/string.h"

// Loads the shared library at lpszPath (dlopen) and returns its module handle,
// the same value AfxGetModuleHandleOf gives for its addresses; null on
// failure, with the reason in AfxGetLoadLibraryError.
AFX_API_EXPORT HINSTANCE AfxLoadLibrary(LPCSTR lpszPath);
// Drops one reference taken by AfxLoadLibrary; the last one unloads the
// library. FALSE for a handle AfxLoadLibrary did not return.
AFX_API_EXPORT BOOL AfxFreeLibrary(HINSTANCE hModule);
// The address of an exported symbol of a module loaded by AfxLoadLibrary;
// null for another module or a symbol it does not export.
AFX_API_EXPORT void* AfxGetProcAddress(HINSTANCE hModule, LPCSTR lpszSymbol);
// Why the last AfxLoadLibrary of this thread failed.
AFX_API_EXPORT CString AfxGetLoadLibraryError();

// Called by a module at the end of its attach: bAttached FALSE means the load
// must fail. A library that never reports counts as attached.
AFX_API_EXPORT void AfxReportModuleAttach(HINSTANCE hModule, BOOL bAttached);
// Called by a module at the end of its detach: forgets what it reported.
AFX_API_EXPORT void AfxReportModuleDetach(HINSTANCE hModule);
