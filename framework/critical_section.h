// CCriticalSection, a recursive lock within one process, and CSingleLock,
// which holds a lock for the length of a scope.
#pragma once

#include "framework/win_types.h"

#include <mutex>

class AFX_EXT_CLASS CSyncObject {
public:
  CSyncObject() = default;
  CSyncObject(const CSyncObject&) = delete;
  CSyncObject& operator=(const CSyncObject&) = delete;
  virtual ~CSyncObject() = default;

  virtual BOOL Lock() = 0;
  virtual BOOL Unlock() = 0;
};

class AFX_EXT_CLASS CCriticalSection : public CSyncObject {
public:
  CCriticalSection() = default;
  ~CCriticalSection() override = default;

  // Waits until the section is free; the thread that holds it may enter again.
  BOOL Lock() override;
  BOOL Unlock() override;

private:
  std::recursive_mutex m_mutex;
};

class AFX_EXT_CLASS CSingleLock {
public:
  explicit CSingleLock(CSyncObject* pObject, BOOL bInitialLock = FALSE);
  CSingleLock(const CSingleLock&) = delete;
  CSingleLock& operator=(const CSingleLock&) = delete;
  // Releases the lock if this object still holds it.
  ~CSingleLock();

  BOOL Lock();
  BOOL Unlock();
  BOOL IsLocked() const { return m_bAcquired; }

private:
  CSyncObject* m_pObject;
  BOOL m_bAcquired = FALSE;
};
