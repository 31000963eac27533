// SPDX-License-Identifier: Apache-2.0
#include "framework/core/object.h"

#include "framework/core/exception.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr, nullptr, nullptr};

CObject* CRuntimeClass::CreateObject() const {
  if (m_pfnCreateObject == nullptr) return nullptr;
  return m_pfnCreateObject();
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
  for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pfnGetBaseClass ? c->m_pfnGetBaseClass() : nullptr) {
    if (c == pBaseClass) return TRUE;
  }
  return FALSE;
}

CDumpContext& CDumpContext::operator<<(LPCSTR psz) {
  std::fputs(psz ? psz : "(null)", stderr);
  return *this;
}

CDumpContext& CDumpContext::operator<<(int n) {
  std::fprintf(stderr, "%d", n);
  return *this;
}

CRuntimeClass* CObject::GetRuntimeClass() const {
  return &classCObject;
}

void CObject::Serialize(CArchive&) {}

void CObject::AssertValid() const {}

void CObject::Dump(CDumpContext& dc) const {
  dc << "a " << GetRuntimeClass()->m_lpszClassName << " at object\n";
}

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
  return GetRuntimeClass()->IsDerivedFrom(pClass);
}

BOOL CObject::IsSerializable() const {
  return GetRuntimeClass()->m_wSchema != 0xFFFF;
}

namespace {
std::atomic<std::size_t> g_nAllocLimit{0};
}  // namespace

void AfxSetAllocLimit(std::size_t nMaxBytes) {
  g_nAllocLimit = nMaxBytes;
}

void* AfxAllocMemory(std::size_t nBytes) {
  std::size_t nLimit = g_nAllocLimit;
  if (nLimit != 0 && nBytes > nLimit) AfxThrowMemoryException();
  void* p = std::malloc(nBytes == 0 ? 1 : nBytes);
  if (p == nullptr) AfxThrowMemoryException();
  return p;
}

void AfxFreeMemory(void* p) {
  std::free(p);
}
