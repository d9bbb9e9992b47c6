// The loader behind the delay-load import libraries that
// tools/delay-import-lib.sh makes for odrel.exe (see CMakeLists.txt).
#include <windows.h>

namespace {

// The import slots' module record, laid out by the generated thunks.
struct DelayLoadedDll {
  HMODULE handle;
  const char* name;
};

}  // namespace

// Called by a thunk on the first call of an imported function: loads the DLL
// by its bare name (the search is restricted to System32 by then), finds the
// function and stores it in the import slot. Races between threads are
// harmless: both store the same address, and the DLL's reference count only
// grows. A missing DLL or function ends the process as an unresolved import
// at start would.
extern "C" void* __cdecl OdrelResolveDelayImport(DelayLoadedDll* dll, const char* function,
                                                  void** slot) {
  HMODULE module = dll->handle;
  if (module == NULL) {
    module = LoadLibraryA(dll->name);
    dll->handle = module;
  }
  FARPROC address = module != NULL ? GetProcAddress(module, function) : NULL;
  if (address == NULL) {
    ULONG_PTR arguments[2] = {reinterpret_cast<ULONG_PTR>(dll->name),
                              reinterpret_cast<ULONG_PTR>(function)};
    // VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND), as the
    // Microsoft delay-load helper raises it.
    RaiseException(0xC06D007F, EXCEPTION_NONCONTINUABLE, 2, arguments);
  }
  void* target = reinterpret_cast<void*>(address);
  *slot = target;
  return target;
}
