// SPDX-License-Identifier: Apache-2.0
// Resources: byte blocks (dialog templates, animation clips) that a module
// compiles in and registers under a type name and a number. Look-up prefers a
// given module, then the host, then walks the chain of extension libraries.
#pragma once

#include "framework/core/win_types.h"

#define RT_DIALOG_TYPE "DIALOG"  // resource type names are strings
#define RT_AVI_TYPE "AVI"        // animation clips

// Registers bytes as resource (type, id) of the module hModule (static storage; not copied).
// A second registration of the same (module, type, id) replaces the first.
AFX_API_EXPORT void AfxRegisterResource(HINSTANCE hModule, LPCSTR lpszType, UINT nID, const void* pData, DWORD nSize);
// Drops every resource registered for hModule.
AFX_API_EXPORT void AfxUnregisterResources(HINSTANCE hModule);
// The HINSTANCE of the loaded object (executable or shared library) containing the address (dladdr).
AFX_API_EXPORT HINSTANCE AfxGetModuleHandleOf(const void* address);
// Finds (type, id): first in the module hPreferred if given, then in the host's own module, then module by
// module along the chain of extension libraries, as the framework does. TRUE and data/size/owning module if found.
// Only the host and modules linked into the chain are searched: a withdrawn module's resources are not found,
// even when it is named as hPreferred. Type names compare without regard to case.
AFX_API_EXPORT BOOL AfxFindResource(LPCSTR lpszType, UINT nID, const BYTE** ppData, DWORD* pnSize,
                                    HINSTANCE* phModule = nullptr, HINSTANCE hPreferred = nullptr);
