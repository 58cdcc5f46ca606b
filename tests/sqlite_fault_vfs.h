// An SQLite VFS for tests, named "fault", over the default one: it counts
// the syncs its files are asked for, and while refuse_signs is set it fails
// every write of a page that holds a fiscal sign, as a full disk would.
#ifndef FR_TESTS_SQLITE_FAULT_VFS_H_
#define FR_TESTS_SQLITE_FAULT_VFS_H_

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace faultvfs {

inline std::atomic<bool> refuse_signs{false};
inline std::atomic<int> syncs{0};

namespace internal {

inline sqlite3_vfs* real_vfs = nullptr;

struct File {
  sqlite3_file base;
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};
inline File* Of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }

inline sqlite3_io_methods MakeMethods() {
  sqlite3_io_methods m{};
  m.iVersion = 2;  // with shared memory for WAL, without memory mapping
  m.xClose = [](sqlite3_file* f) { return Of(f)->real()->pMethods->xClose(Of(f)->real()); };
  m.xRead = [](sqlite3_file* f, void* b, int n, sqlite3_int64 o) { return Of(f)->real()->pMethods->xRead(Of(f)->real(), b, n, o); };
  m.xWrite = [](sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    if (refuse_signs && memmem(b, static_cast<size_t>(n), "fiscal_sign", 11) != nullptr) return SQLITE_FULL;
    return Of(f)->real()->pMethods->xWrite(Of(f)->real(), b, n, o);
  };
  m.xTruncate = [](sqlite3_file* f, sqlite3_int64 s) { return Of(f)->real()->pMethods->xTruncate(Of(f)->real(), s); };
  m.xSync = [](sqlite3_file* f, int fl) {
    ++syncs;
    return Of(f)->real()->pMethods->xSync(Of(f)->real(), fl);
  };
  m.xFileSize = [](sqlite3_file* f, sqlite3_int64* s) { return Of(f)->real()->pMethods->xFileSize(Of(f)->real(), s); };
  m.xLock = [](sqlite3_file* f, int l) { return Of(f)->real()->pMethods->xLock(Of(f)->real(), l); };
  m.xUnlock = [](sqlite3_file* f, int l) { return Of(f)->real()->pMethods->xUnlock(Of(f)->real(), l); };
  m.xCheckReservedLock = [](sqlite3_file* f, int* r) { return Of(f)->real()->pMethods->xCheckReservedLock(Of(f)->real(), r); };
  m.xFileControl = [](sqlite3_file* f, int op, void* a) { return Of(f)->real()->pMethods->xFileControl(Of(f)->real(), op, a); };
  m.xSectorSize = [](sqlite3_file* f) { return Of(f)->real()->pMethods->xSectorSize(Of(f)->real()); };
  m.xDeviceCharacteristics = [](sqlite3_file* f) { return Of(f)->real()->pMethods->xDeviceCharacteristics(Of(f)->real()); };
  m.xShmMap = [](sqlite3_file* f, int p, int s, int e, void volatile** a) {
    return Of(f)->real()->pMethods->xShmMap(Of(f)->real(), p, s, e, a);
  };
  m.xShmLock = [](sqlite3_file* f, int o, int n, int fl) { return Of(f)->real()->pMethods->xShmLock(Of(f)->real(), o, n, fl); };
  m.xShmBarrier = [](sqlite3_file* f) { Of(f)->real()->pMethods->xShmBarrier(Of(f)->real()); };
  m.xShmUnmap = [](sqlite3_file* f, int d) { return Of(f)->real()->pMethods->xShmUnmap(Of(f)->real(), d); };
  return m;
}
inline const sqlite3_io_methods kMethods = MakeMethods();

}  // namespace internal

inline void Register() {
  using namespace internal;
  static sqlite3_vfs vfs;
  if (real_vfs != nullptr) return;
  real_vfs = sqlite3_vfs_find(nullptr);
  vfs = *real_vfs;
  vfs.zName = "fault";
  vfs.szOsFile = static_cast<int>(sizeof(File)) + real_vfs->szOsFile;
  vfs.xOpen = [](sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out) {
    const int rc = real_vfs->xOpen(real_vfs, name, Of(f)->real(), flags, out);
    f->pMethods = Of(f)->real()->pMethods != nullptr ? &kMethods : nullptr;
    return rc;
  };
  sqlite3_vfs_register(&vfs, 0);
}

}  // namespace faultvfs

#endif  // FR_TESTS_SQLITE_FAULT_VFS_H_
