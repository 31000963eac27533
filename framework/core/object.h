// SPDX-License-Identifier: Apache-2.0
// CObject, the root of the framework's object model, and CRuntimeClass, the
// description of a class that supports run-time type queries and dynamic
// creation.
#pragma once

#include "framework/core/win_types.h"

class CObject;
class CArchive;
class CDumpContext;

// The description of one class: its name, size, schema, how to create an
// object of it, and its base class.
struct AFX_EXT_CLASS CRuntimeClass {
  LPCSTR m_lpszClassName;  // the class's name
  int m_nObjectSize;       // sizeof an object of the class
  UINT m_wSchema;  // 0xFFFF: the class has no schema
  CObject* (*m_pfnCreateObject)();        // makes a new object; null: no dynamic creation
  CRuntimeClass* (*m_pfnGetBaseClass)();  // the base class's description; null for CObject
  CRuntimeClass* m_pNextClass;            // next entry of the class list it was entered in

  // A new object of this class, or null if the class cannot be created dynamically.
  CObject* CreateObject() const;
  // TRUE if this class is pBaseClass or derives from it.
  BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

// Where Dump writes: a sink for diagnostic text.
class AFX_EXT_CLASS CDumpContext {
public:
  // Writes the text ("(null)" for a null pointer) to standard error.
  CDumpContext& operator<<(LPCSTR psz);
  // Writes the number in decimal to standard error.
  CDumpContext& operator<<(int n);
};

class AFX_EXT_CLASS CObject {
public:
  // The description of the object's class; a class declared with
  // DECLARE_DYNCREATE returns its own.
  virtual CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject() = default;
  // Stores or loads the object; CObject's does nothing.
  virtual void Serialize(CArchive& ar);
  // Checks the object's invariants; CObject's checks nothing.
  virtual void AssertValid() const;
  // Writes a line naming the object's class to dc.
  virtual void Dump(CDumpContext& dc) const;

  // TRUE if the object's class is pClass or derives from it.
  BOOL IsKindOf(const CRuntimeClass* pClass) const;
  // TRUE if the object's class has a schema number.
  BOOL IsSerializable() const;

  static CRuntimeClass classCObject;  // CObject's own description

protected:
  CObject() = default;

private:
  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;
};

// The CRuntimeClass* of a class declared with DECLARE_DYNCREATE (or CObject).
#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

// Declares the runtime-class description and dynamic creation of a class.
#define DECLARE_DYNCREATE(class_name)                 \
 protected:                                           \
  static CRuntimeClass* _GetBaseClass();              \
                                                      \
 public:                                              \
  static CRuntimeClass class##class_name;             \
  static CObject* CreateObject();                     \
  CRuntimeClass* GetRuntimeClass() const override;


// Defines what DECLARE_DYNCREATE declares.
#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                                 \
  CObject* class_name::CreateObject() { return new class_name; }                        \
  CRuntimeClass* class_name::_GetBaseClass() { return RUNTIME_CLASS(base_class_name); } \
  CRuntimeClass class_name::class##class_name = {                                        \
      #class_name, static_cast<int>(sizeof(class_name)), 0xFFFF, class_name::CreateObject, \
      &class_name::_GetBaseClass, nullptr};                                              \
  CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

// Allocation through the framework's allocator; blocks handed between host and
// module must come from here and go back here. Never null: throws
// CMemoryException* when the memory cannot be had.
AFX_API_EXPORT void* AfxAllocMemory(std::size_t nBytes);
// Releases a block from AfxAllocMemory; null is ignored.
AFX_API_EXPORT void AfxFreeMemory(void* p);
// Fault injection for tests: AfxAllocMemory refuses (throws CMemoryException*)
// any single request larger than nMaxBytes; 0 lifts the limit.
AFX_API_EXPORT void AfxSetAllocLimit(std::size_t nMaxBytes);
