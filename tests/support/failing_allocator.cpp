#include "support/failing_allocator.h"

#include "standin.h"
#include "testkit/hooked_new.h"

#if NORROW_OS_WINDOWS
#include <windows.h>

#include <cstdint>
#include <cstring>
#endif

namespace norrow::test {
namespace {

long counter = 0;   // the plug-in's allocations so far
long failFrom = 0;  // 0: never fail
long armedAt = 0;
int hostDepth = 0;  // calls into the host in progress (one thread)

bool NextFails() {
    if (hostDepth > 0) return false;
    ++counter;
    return failFrom != 0 && counter >= failFrom;
}

bool Admit() { return !NextFails(); }

void WatchHost(int entering) { hostDepth += entering != 0 ? 1 : -1; }

#if NORROW_OS_WINDOWS
using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);

Malloc realMalloc = nullptr;
Calloc realCalloc = nullptr;
Realloc realRealloc = nullptr;
volatile LONG processOutOfMemory = 0;
size_t failingSize = 0;  // requests of this size and more fail

bool ProcessFails(size_t size) {
    return processOutOfMemory != 0 && hostDepth == 0 && size >= failingSize;
}

void* __cdecl GateMalloc(size_t size) { return ProcessFails(size) ? nullptr : realMalloc(size); }
void* __cdecl GateCalloc(size_t count, size_t size) {
    return ProcessFails(count * size) ? nullptr : realCalloc(count, size);
}
void* __cdecl GateRealloc(void* block, size_t size) {
    return ProcessFails(size) ? nullptr : realRealloc(block, size);
}

// The gate that stands in for the msvcrt function `name`, or null.
uintptr_t GateFor(const char* name) {
    if (std::strcmp(name, "malloc") == 0) return reinterpret_cast<uintptr_t>(GateMalloc);
    if (std::strcmp(name, "calloc") == 0) return reinterpret_cast<uintptr_t>(GateCalloc);
    if (std::strcmp(name, "realloc") == 0) return reinterpret_cast<uintptr_t>(GateRealloc);
    return 0;
}

// Points the module's imports of msvcrt's allocation functions at the gates.
void RedirectImports(HMODULE module) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return;
    for (auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         dll->Name != 0; ++dll) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + dll->Name), "msvcrt.dll") != 0) continue;
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const uintptr_t gate = GateFor(reinterpret_cast<const char*>(byName->Name));
            if (gate == 0) continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            slots->u1.Function = gate;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection,
                           &protection);
        }
    }
}
#endif

}  // namespace

FailingAllocations::FailingAllocations(long failAt) {
    StandIn_SetCallObserver(WatchHost);
    armedAt = counter;
    failFrom = counter + failAt;
}
FailingAllocations::~FailingAllocations() { failFrom = 0; }
long FailingAllocations::Seen() const { return counter - armedAt; }
#if NORROW_OS_WINDOWS
ProcessOutOfMemory::ProcessOutOfMemory(void* const* modules, size_t count, size_t minimumSize) {
    const HMODULE msvcrt = GetModuleHandleA("msvcrt.dll");
    realMalloc = reinterpret_cast<Malloc>(reinterpret_cast<void*>(GetProcAddress(msvcrt, "malloc")));
    realCalloc = reinterpret_cast<Calloc>(reinterpret_cast<void*>(GetProcAddress(msvcrt, "calloc")));
    realRealloc =
        reinterpret_cast<Realloc>(reinterpret_cast<void*>(GetProcAddress(msvcrt, "realloc")));
    for (size_t i = 0; i < count; ++i) RedirectImports(static_cast<HMODULE>(modules[i]));
    StandIn_SetCallObserver(WatchHost);
    failingSize = minimumSize;
    InterlockedExchange(&processOutOfMemory, 1);
}

ProcessOutOfMemory::~ProcessOutOfMemory() { InterlockedExchange(&processOutOfMemory, 0); }
#endif

HostAllocations::HostAllocations() { WatchHost(1); }
HostAllocations::~HostAllocations() { WatchHost(0); }

}  // namespace norrow::test

namespace norrow::testkit {
const NewHooks kNewHooks{test::Admit, nullptr, false};
}  // namespace norrow::testkit
