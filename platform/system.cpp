// Last error, dynamic loading, the program folder and the process object table.

#include "platform/system.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "platform/text.h"
#include "platform/winapi.h"

namespace brevak {
namespace {

thread_local DWORD tls_last_error = 0;
thread_local std::string tls_load_error;

// Handles from dlopen, counted as dlopen counts them, so that a stale or made-up HMODULE is
// refused instead of reaching dlsym/dlclose.
struct Modules {
  std::mutex mu;
  std::unordered_map<void*, int> open;
};

Modules& Mods() {
  static Modules* m = new Modules;
  return *m;
}

bool IsOpenModule(void* handle) {
  std::lock_guard<std::mutex> lock(Mods().mu);
  return Mods().open.count(handle) != 0;
}

}  // namespace

std::u16string ProgramFolder() {
  std::string dir;
  const char* env = std::getenv("BREVAK_PROGRAM_DIR");
  if (env && *env) {
    dir = env;
  } else {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || size_t(n) >= sizeof buf) return {};
    dir.assign(buf, size_t(n));
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos) return {};
    dir.resize(slash);
  }
  if (dir.empty() || dir.back() != '/') dir += '/';
  return Utf8ToUtf16(dir);
}

std::string LastLoadError() { return tls_load_error; }

namespace {
std::mutex g_objects_mutex;
std::unordered_map<std::string, void*>& Objects() {
  static auto* objects = new std::unordered_map<std::string, void*>;  // outlives static destructors
  return *objects;
}
}  // namespace

void SetProcessObject(std::string_view name, void* object) {
  std::lock_guard lock(g_objects_mutex);
  if (object) Objects()[std::string(name)] = object;
  else Objects().erase(std::string(name));
}

void* GetProcessObject(std::string_view name) {
  std::lock_guard lock(g_objects_mutex);
  auto it = Objects().find(std::string(name));
  return it == Objects().end() ? nullptr : it->second;
}

}  // namespace brevak

using namespace brevak;

DWORD GetLastError() { return tls_last_error; }
void SetLastError(DWORD error) { tls_last_error = error; }

HMODULE LoadLibraryW(LPCWSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    tls_load_error = "empty path";
    return nullptr;
  }
  std::string utf8 = Utf16ToUtf8(std::u16string_view(path));
  void* handle = dlopen(utf8.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = dlerror();
    tls_load_error = err ? err : "dlopen failed";
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(Mods().mu);
    ++Mods().open[handle];
  }
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (!module || !name || !IsOpenModule(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    tls_load_error = "not a loaded library";
    return nullptr;
  }
  dlerror();
  void* sym = dlsym(module, name);
  if (!sym) {
    const char* err = dlerror();
    tls_load_error = err ? err : "symbol is null";
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(sym);
}

BOOL FreeLibrary(HMODULE module) {
  {
    std::lock_guard<std::mutex> lock(Mods().mu);
    auto it = Mods().open.find(module);
    if (!module || it == Mods().open.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second == 0) Mods().open.erase(it);
  }
  return dlclose(module) == 0 ? TRUE : FALSE;
}
