// SPDX-License-Identifier: Apache-2.0
// CCriticalSection, a recursive lock within one process, and CSingleLock,
// which holds a lock for the length of a scope.
#pragma once

#include "framework/core/win_types.h"

#include <mutex>

// The interface of a lock that CSingleLock can hold.
class AFX_EXT_CLASS CSyncObject {
public:
  CSyncObject() = default;
  CSyncObject(const CSyncObject&) = delete;
  CSyncObject& operator=(const CSyncObject&) = delete;
  virtual ~CSyncObject() = default;

  // Takes the lock, waiting as long as needed; TRUE once held.
  virtual BOOL Lock() = 0;
  // Releases the lock; TRUE when released.
  virtual BOOL Unlock() = 0;
};

class AFX_EXT_CLASS CCriticalSection : public CSyncObject {
public:
  CCriticalSection() = default;
  ~CCriticalSection() override = default;

  // Waits until the section is free; the thread that holds it may enter
  // again. Always TRUE.
  BOOL Lock() override;
  // Leaves the section once (it must be held by this thread). Always TRUE.
  BOOL Unlock() override;

private:
  std::recursive_mutex m_mutex;
};

// Holds one lock of a CSyncObject for the life of the object (or until Unlock).
class AFX_EXT_CLASS CSingleLock {
public:
  // A holder of pObject's lock, taken at once when bInitialLock is set.
  explicit CSingleLock(CSyncObject* pObject, BOOL bInitialLock = FALSE);
  CSingleLock(const CSingleLock&) = delete;
  CSingleLock& operator=(const CSingleLock&) = delete;
  // Releases the lock if this object still holds it.
  ~CSingleLock();

  // Takes the lock unless this object holds it already; TRUE when held,
  // FALSE for a null object.
  BOOL Lock();
  // Releases the lock if this object holds it; FALSE for a null object or
  // when the release fails, TRUE otherwise.
  BOOL Unlock();
  // TRUE while this object holds the lock.
  BOOL IsLocked() const { return m_bAcquired; }

private:
  CSyncObject* m_pObject;
  BOOL m_bAcquired = FALSE;
};
