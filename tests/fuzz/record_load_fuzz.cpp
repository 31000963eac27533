// SPDX-License-Identifier: Apache-2.0
// Loads alarm records from arbitrary bytes until the archive ends. A load may
// fail only with the archive's end-of-file exception; every record that loads
// must store back to exactly the bytes it came from, and reading through a
// tiny buffer must give the same records as reading through a large one.
#include "record/alarm_msg.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The bytes of each record that loads, then "!" if the last one broke off.
std::vector<std::string> load_all(const std::uint8_t* data, std::size_t size, int nBufSize) {
  std::vector<std::string> records;
  CMemFile file(const_cast<BYTE*>(data), static_cast<UINT>(size));
  CArchive ar(&file, CArchive::load, nBufSize);
  std::size_t offset = 0;
  while (offset < size) {
    CAlarmMsg msg;
    try {
      msg.Serialize(ar);
    } catch (CArchiveException* e) {
      if (e->m_cause != CArchiveException::endOfFile) __builtin_trap();
      e->Delete();
      if (msg.m_pData != nullptr) __builtin_trap();  // a broken load keeps no block
      records.push_back("!");
      break;
    }
    if (msg.m_pData != nullptr && msg.m_nDataLen <= 0) __builtin_trap();
    std::size_t nSize = 16 + (msg.m_nDataLen > 0 ? static_cast<std::size_t>(msg.m_nDataLen) : 0);
    CMemFile out;
    {
      CArchive store(&out, CArchive::store, nBufSize);
      msg.Serialize(store);
    }
    if (out.GetLength() != nSize || offset + nSize > size) __builtin_trap();
    std::string bytes(nSize, '\0');
    out.SeekToBegin();
    out.Read(bytes.data(), static_cast<UINT>(nSize));
    if (std::memcmp(bytes.data(), data + offset, nSize) != 0) __builtin_trap();
    records.push_back(std::move(bytes));
    offset += nSize;
  }
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 24)) return 0;
  if (load_all(data, size, 16) != load_all(data, size, 4096)) __builtin_trap();
  return 0;
}
