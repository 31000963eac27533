// CObject, the root of the framework's object model, and CRuntimeClass, the
// description of a class that supports run-time type queries and dynamic
// creation.
#pragma once

#include "framework/win_types.h"

class CObject;
class CArchive;
class CDumpContext;

struct AFX_EXT_CLASS CRuntimeClass {
  LPCSTR m_lpszClassName;
  int m_nObjectSize;
  UINT m_wSchema;  // 0xFFFF: the class has no schema
  CObject* (*m_pfnCreateObject)();
  CRuntimeClass* (*m_pfnGetBaseClass)();
  CRuntimeClass* m_pNextClass;

  // A new object of this class, or null if the class cannot be created dynamically.
  CObject* CreateObject() const;
  // TRUE if this class is pBaseClass or derives from it.
  BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

// Where Dump writes: a sink for diagnostic text.
class AFX_EXT_CLASS CDumpContext {
public:
  CDumpContext& operator<<(LPCSTR psz);
  CDumpContext& operator<<(int n);
};

class AFX_EXT_CLASS CObject {
public:
  virtual CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject() = default;
  virtual void Serialize(CArchive& ar);
  virtual void AssertValid() const;
  virtual void Dump(CDumpContext& dc) const;

  BOOL IsKindOf(const CRuntimeClass* pClass) const;
  BOOL IsSerializable() const;

  static CRuntimeClass classCObject;

protected:
  CObject() = default;

private:
  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;
};

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
// module must come from here and go back here.
AFX_API_EXPORT void* AfxAllocMemory(std::size_t nBytes);
AFX_API_EXPORT void AfxFreeMemory(void* p);
// Fault injection for tests: AfxAllocMemory refuses (throws CMemoryException*)
// any single request larger than nMaxBytes; 0 lifts the limit.
AFX_API_EXPORT void AfxSetAllocLimit(std::size_t nMaxBytes);
