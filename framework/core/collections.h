// SPDX-License-Identifier: Apache-2.0
// The framework's collection templates: CArray, a growable array, and CList, a
// doubly linked list walked with opaque POSITION values.
#pragma once

#include "framework/core/exception.h"
#include "framework/core/win_types.h"

#include <new>
#include <utility>
#include <vector>

struct __POSITION {};
// A place in a CList: an opaque pointer, null before the head or past the tail.
using POSITION = __POSITION*;

// A growable array of TYPE values, passed in as ARG_TYPE. Growing throws
// CMemoryException* when memory runs out.
template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray {
public:
  CArray() = default;
  CArray(const CArray&) = delete;
  CArray& operator=(const CArray&) = delete;
  virtual ~CArray() = default;

  // The number of elements.
  INT_PTR GetSize() const { return static_cast<INT_PTR>(m_items.size()); }
  // The number of elements.
  INT_PTR GetCount() const { return GetSize(); }
  // TRUE for no elements.
  BOOL IsEmpty() const { return m_items.empty(); }
  // The last index; -1 when empty.
  INT_PTR GetUpperBound() const { return GetSize() - 1; }

  // Grows with default values or cuts to nNewSize elements (a negative size means 0).
  void SetSize(INT_PTR nNewSize) { guarded([&] { m_items.resize(static_cast<std::size_t>(nNewSize < 0 ? 0 : nNewSize)); }); }
  // Removes every element.
  void RemoveAll() { m_items.clear(); }

  // Indexed access; an index outside the array throws std::out_of_range.
  const TYPE& GetAt(INT_PTR i) const { return m_items.at(static_cast<std::size_t>(i)); }
  // Replaces element i (checked like GetAt).
  void SetAt(INT_PTR i, ARG_TYPE e) { m_items.at(static_cast<std::size_t>(i)) = e; }
  // Element i, writable (checked like GetAt).
  TYPE& ElementAt(INT_PTR i) { return m_items.at(static_cast<std::size_t>(i)); }
  // GetAt.
  const TYPE& operator[](INT_PTR i) const { return GetAt(i); }
  // ElementAt.
  TYPE& operator[](INT_PTR i) { return ElementAt(i); }

  // Appends one element and returns its index.
  INT_PTR Add(ARG_TYPE e) {
    guarded([&] { m_items.push_back(e); });
    return GetUpperBound();
  }
  // Inserts one element before index i (0..GetSize(); not checked).
  void InsertAt(INT_PTR i, ARG_TYPE e) {
    guarded([&] { m_items.insert(m_items.begin() + i, e); });
  }
  // Removes n elements from index i (they must exist; not checked).
  void RemoveAt(INT_PTR i, INT_PTR n = 1) { m_items.erase(m_items.begin() + i, m_items.begin() + i + n); }

private:
  template <typename F>
  static void guarded(F&& f) {
    try {
      f();
    } catch (const std::bad_alloc&) {
      AfxThrowMemoryException();
    }
  }

  std::vector<TYPE> m_items;
};

// A doubly linked list of TYPE values, passed in as ARG_TYPE. Adding throws
// CMemoryException* when memory runs out. The head and tail accessors and
// removals need a non-empty list, and a POSITION must be one of this list's
// live elements; neither is checked.
template <class TYPE, class ARG_TYPE = const TYPE&>
class CList {
  struct CNode : __POSITION {
    CNode* pNext = nullptr;
    CNode* pPrev = nullptr;
    TYPE data;
    explicit CNode(ARG_TYPE d) : data(d) {}
  };

public:
  CList() = default;
  CList(const CList&) = delete;
  CList& operator=(const CList&) = delete;
  virtual ~CList() { RemoveAll(); }

  // The number of elements.
  INT_PTR GetCount() const { return m_nCount; }
  // The number of elements.
  INT_PTR GetSize() const { return m_nCount; }
  // TRUE for no elements.
  BOOL IsEmpty() const { return m_nCount == 0; }

  // The first element.
  TYPE& GetHead() { return m_pHead->data; }
  const TYPE& GetHead() const { return m_pHead->data; }
  // The last element.
  TYPE& GetTail() { return m_pTail->data; }
  const TYPE& GetTail() const { return m_pTail->data; }

  // Adds an element before the head; returns its position.
  POSITION AddHead(ARG_TYPE e) {
    CNode* n = make(e);
    n->pNext = m_pHead;
    if (m_pHead) m_pHead->pPrev = n;
    else m_pTail = n;
    m_pHead = n;
    ++m_nCount;
    return n;
  }

  // Adds an element after the tail; returns its position.
  POSITION AddTail(ARG_TYPE e) {
    CNode* n = make(e);
    n->pPrev = m_pTail;
    if (m_pTail) m_pTail->pNext = n;
    else m_pHead = n;
    m_pTail = n;
    ++m_nCount;
    return n;
  }

  // Removes the first element and returns it.
  TYPE RemoveHead() {
    CNode* n = m_pHead;
    TYPE d = std::move(n->data);
    unlink(n);
    return d;
  }

  // Removes the last element and returns it.
  TYPE RemoveTail() {
    CNode* n = m_pTail;
    TYPE d = std::move(n->data);
    unlink(n);
    return d;
  }

  // Removes the element at pos; pos is then invalid.
  void RemoveAt(POSITION pos) { unlink(static_cast<CNode*>(pos)); }

  // Removes every element.
  void RemoveAll() {
    while (m_pHead) unlink(m_pHead);
  }

  // The first element's position; null when empty.
  POSITION GetHeadPosition() const { return m_pHead; }
  // The last element's position; null when empty.
  POSITION GetTailPosition() const { return m_pTail; }

  // Returns the element at pos and moves pos to the next one (null at the end).
  TYPE& GetNext(POSITION& pos) {
    CNode* n = static_cast<CNode*>(pos);
    pos = n->pNext;
    return n->data;
  }
  // GetNext of a const list.
  const TYPE& GetNext(POSITION& pos) const {
    const CNode* n = static_cast<const CNode*>(pos);
    pos = n->pNext;
    return n->data;
  }
  // Returns the element at pos and moves pos to the previous one (null at the head).
  TYPE& GetPrev(POSITION& pos) {
    CNode* n = static_cast<CNode*>(pos);
    pos = n->pPrev;
    return n->data;
  }
  // The element at pos.
  TYPE& GetAt(POSITION pos) { return static_cast<CNode*>(pos)->data; }
  const TYPE& GetAt(POSITION pos) const { return static_cast<const CNode*>(pos)->data; }

private:
  static CNode* make(ARG_TYPE e) {
    try {
      return new CNode(e);
    } catch (const std::bad_alloc&) {
      AfxThrowMemoryException();
    }
  }

  void unlink(CNode* n) {
    if (n->pPrev) n->pPrev->pNext = n->pNext;
    else m_pHead = n->pNext;
    if (n->pNext) n->pNext->pPrev = n->pPrev;
    else m_pTail = n->pPrev;
    --m_nCount;
    delete n;
  }

  CNode* m_pHead = nullptr;
  CNode* m_pTail = nullptr;
  INT_PTR m_nCount = 0;
};
