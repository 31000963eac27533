// SPDX-License-Identifier: Apache-2.0
#include "framework/core/critical_section.h"

BOOL CCriticalSection::Lock() {
  m_mutex.lock();
  return TRUE;
}

BOOL CCriticalSection::Unlock() {
  m_mutex.unlock();
  return TRUE;
}

CSingleLock::CSingleLock(CSyncObject* pObject, BOOL bInitialLock) : m_pObject(pObject) {
  if (bInitialLock) Lock();
}

CSingleLock::~CSingleLock() { Unlock(); }

BOOL CSingleLock::Lock() {
  if (m_pObject == nullptr) return FALSE;
  if (!m_bAcquired) m_bAcquired = m_pObject->Lock();
  return m_bAcquired;
}

BOOL CSingleLock::Unlock() {
  if (m_pObject == nullptr || !m_bAcquired) return m_pObject != nullptr;
  m_bAcquired = !m_pObject->Unlock();
  return !m_bAcquired;
}
