// Paths are taken as the C library takes them (the ANSI code page): the
// *A calls.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bridge/files.h"
#include "bridge/files_win.h"

namespace bridge {

namespace {

// Rights that make a file someone's: reading it, changing it, or changing
// who may.
constexpr DWORD kUse = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | GENERIC_READ |
                       GENERIC_WRITE | GENERIC_ALL;

// Whom a private file lets in: the account this process runs as (its
// token's user: LocalService, say, when run as a service), the
// administrators and SYSTEM.
class Owners {
 public:
  Owners() {
    HANDLE token = nullptr;
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      GetTokenInformation(token, TokenUser, nullptr, 0, &size);
      user_.resize(size);
      if (size == 0 || !GetTokenInformation(token, TokenUser, user_.data(), size, &size)) user_.clear();
      CloseHandle(token);
    }
    DWORD n = sizeof admins_;
    ok_ = !user_.empty() && CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_, &n);
    n = sizeof system_;
    ok_ = ok_ && CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &n);
  }

  bool ok() const { return ok_; }
  PSID user() const { return reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid; }
  PSID admins() const { return const_cast<BYTE*>(admins_); }
  PSID system() const { return const_cast<BYTE*>(system_); }
  bool Has(PSID sid) const {
    return ok_ && (EqualSid(sid, user()) || EqualSid(sid, admins()) || EqualSid(sid, system()));
  }

 private:
  std::vector<BYTE> user_;
  BYTE admins_[SECURITY_MAX_SID_SIZE] = {};
  BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  bool ok_ = false;
};

const Owners& TheOwners() {
  static const Owners owners;
  return owners;
}

// Full control for the owners and nobody else (for `account` instead of
// this process's when given); what is made inside a directory inherits it.
// nullptr when it cannot be made; LocalFree it.
PACL PrivateAcl(bool directory, PSID account = nullptr) {
  const Owners& o = TheOwners();
  if (!o.ok()) return nullptr;
  EXPLICIT_ACCESSA entries[3] = {};
  const PSID sids[3] = {account != nullptr ? account : o.user(), o.admins(), o.system()};
  for (int i = 0; i < 3; ++i) {
    entries[i].grfAccessPermissions = FILE_ALL_ACCESS;
    entries[i].grfAccessMode = SET_ACCESS;
    entries[i].grfInheritance = directory ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
    entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entries[i].Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    entries[i].Trustee.ptstrName = static_cast<LPSTR>(sids[i]);
  }
  PACL acl = nullptr;
  return SetEntriesInAclA(3, entries, nullptr, &acl) == ERROR_SUCCESS ? acl : nullptr;
}

// A private access list, protected from what the parent would pass down,
// for a file or directory made now.
class PrivateAttributes {
 public:
  explicit PrivateAttributes(bool directory, PSID account = nullptr) : acl_(PrivateAcl(directory, account)) {
    ok_ = acl_ != nullptr && InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&sd_, TRUE, acl_, FALSE) &&
          SetSecurityDescriptorControl(&sd_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    sa_.nLength = sizeof sa_;
    sa_.lpSecurityDescriptor = &sd_;
    sa_.bInheritHandle = FALSE;
  }
  ~PrivateAttributes() { LocalFree(acl_); }
  PrivateAttributes(const PrivateAttributes&) = delete;
  PrivateAttributes& operator=(const PrivateAttributes&) = delete;

  bool ok() const { return ok_; }
  PACL acl() const { return acl_; }
  SECURITY_ATTRIBUTES* get() { return &sa_; }

 private:
  PACL acl_;
  SECURITY_DESCRIPTOR sd_ = {};
  SECURITY_ATTRIBUTES sa_ = {};
  bool ok_ = false;
};

constexpr SECURITY_INFORMATION kPrivateDacl = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

// "BUILTIN\Users": an account's name, else its SID's text.
std::string NameOf(PSID sid) {
  char name[256], domain[256];
  DWORD n = sizeof name, d = sizeof domain;
  SID_NAME_USE use;
  if (LookupAccountSidA(nullptr, sid, name, &n, domain, &d, &use)) {
    return domain[0] != '\0' ? std::string(domain) + "\\" + name : std::string(name);
  }
  LPSTR text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "an unknown account";
  std::string s = text;
  LocalFree(text);
  return s;
}

// When the access list of `path` lets someone besides the owners use it,
// who: "BUILTIN\Users is let in by its access list".
bool Stranger(const std::string& path, std::string* how) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &sd) != ERROR_SUCCESS) {
    return false;
  }
  bool open = false;
  if (dacl == nullptr) {
    open = true;
    *how = "it has no access list: everyone is let in";
  }
  for (DWORD i = 0; !open && dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    // An entry only passed down to what is made inside lets nobody in here.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    const PSID sid = &allowed->SidStart;
    if ((allowed->Mask & kUse) == 0 || TheOwners().Has(sid)) continue;
    open = true;
    *how = NameOf(sid) + " is let in by its access list";
  }
  LocalFree(sd);
  return open;
}

bool WriteAll(HANDLE h, const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    DWORD wrote = 0;
    const DWORD n = static_cast<DWORD>(std::min<size_t>(text.size() - at, 1 << 20));
    if (!WriteFile(h, text.data() + at, n, &wrote, nullptr) || wrote == 0) return false;
    at += wrote;
  }
  return true;
}

int64_t UnixSeconds(const FILETIME& t) {
  // 100 ns ticks since 1601.
  const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000) - 11644473600LL;
}

}  // namespace

void PrivateFromNowOn() {}

bool MakePrivateDirectory(const std::string& dir) {
  PrivateAttributes attributes(true);
  if (!attributes.ok()) return false;
  return CreateDirectoryA(dir.c_str(), attributes.get()) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool MakePrivate(const std::string& path, bool directory, std::string* was, std::string* now) {
  std::string how;
  if (!Stranger(path, &how)) return false;
  PACL acl = PrivateAcl(directory);
  if (acl == nullptr) return false;
  // Also passes the directory's list down to what it holds.
  const bool set = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT, kPrivateDacl, nullptr,
                                         nullptr, acl, nullptr) == ERROR_SUCCESS;
  LocalFree(acl);
  if (!set) return false;
  *was = how;
  *now = "this account's, the administrators' and SYSTEM's alone";
  return true;
}

bool OpenToOthers(const std::string& path, std::string* how, std::string* fix) {
  if (!Stranger(path, how)) return false;
  *fix = "let only this account, the administrators and SYSTEM use it";
  return true;
}

bool WritePrivate(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".new";
  PrivateAttributes attributes(false);
  if (!attributes.ok()) return false;
  const HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE | WRITE_DAC, 0, attributes.get(), CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // One left from before keeps its own list when opened: replaced before
  // any byte goes in.
  const bool ok =
      SetSecurityInfo(h, SE_FILE_OBJECT, kPrivateDacl, nullptr, nullptr, attributes.acl(), nullptr) == ERROR_SUCCESS &&
      WriteAll(h, text) && FlushFileBuffers(h);
  CloseHandle(h);
  return ok && MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool WriteSynced(const std::string& path, const std::string& text) {
  const HANDLE h =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = WriteAll(h, text) && FlushFileBuffers(h);
  return CloseHandle(h) && ok;
}

bool ReadRegularFile(const std::string& path, size_t limit, std::string* bytes) {
  // A link or junction is opened as itself, and then refused; a directory
  // does not open without FILE_FLAG_BACKUP_SEMANTICS.
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  LARGE_INTEGER size;
  const bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
                  (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                  GetFileSizeEx(h, &size) && size.QuadPart >= 0 && static_cast<uint64_t>(size.QuadPart) <= limit;
  size_t n = 0;
  if (ok) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    while (n < bytes->size()) {
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes->size() - n, 1 << 20));
      if (!ReadFile(h, &(*bytes)[n], want, &got, nullptr) || got == 0) break;  // shorter than it was
      n += got;
    }
    bytes->resize(n);
  }
  CloseHandle(h);
  return ok;
}

bool ModifiedTime(const std::string& path, int64_t* seconds) {
  // Of a link itself, not of what it leads to.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  *seconds = UnixSeconds(data.ftLastWriteTime);
  return true;
}

bool MakeDirectoryPrivateTo(const std::string& dir, const std::string& account) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  char domain[256];
  DWORD n = sizeof sid, d = sizeof domain;
  SID_NAME_USE use;
  if (!LookupAccountNameA(nullptr, account.c_str(), sid, &n, domain, &d, &use)) return false;
  PrivateAttributes attributes(true, sid);
  if (!attributes.ok()) return false;
  if (!CreateDirectoryA(dir.c_str(), attributes.get()) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  // One there before gets the list too, and passes it down to what it holds.
  const DWORD rc = SetNamedSecurityInfoA(const_cast<char*>(dir.c_str()), SE_FILE_OBJECT, kPrivateDacl, nullptr, nullptr,
                                         attributes.acl(), nullptr);
  SetLastError(rc);
  return rc == ERROR_SUCCESS;
}

FileLock::~FileLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FileLock::Result FileLock::Take(const std::string& path) {
  PrivateAttributes attributes(false);
  // Shared, so that a second bridge opens it and is told it is taken.
  const HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  attributes.ok() ? attributes.get() : nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kCannotOpen;
  OVERLAPPED whole = {};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    CloseHandle(h);
    return kTaken;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return kHeld;
}

}  // namespace bridge
