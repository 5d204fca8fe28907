// Under Wine on qemu-user: a thread waits while others start and end.
//   threads.exe N MODE   N threads started and joined one after the other, while
//   MODE 0: nothing else runs; 1: a thread waits on the main thread's handle
//   (as GoogleTest's thread-local storage watches each thread that uses it);
//   2: a thread waits on an event that is never set; 3: a thread sleeps.
// Prints "ok" and exits 0 when nothing went wrong.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

static DWORD WINAPI WaitOn(void* handle) {
    const DWORD r = WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
    if (r != WAIT_OBJECT_0) {
        fprintf(stderr, "FATAL: the wait returned %lu (error 0x%lx)\n", r, GetLastError());
        abort();
    }
    return 0;
}

static DWORD WINAPI SleepOn(void*) {
    Sleep(INFINITE);
    return 0;
}

int main(int argc, char** argv) {
    const int n = argc > 1 ? atoi(argv[1]) : 6;
    const int mode = argc > 2 ? atoi(argv[2]) : 1;
    HANDLE on = nullptr;
    if (mode == 1) on = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId());
    if (mode == 2) on = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (mode != 0) {
        HANDLE other = CreateThread(nullptr, 0, mode == 3 ? SleepOn : WaitOn, on, 0, nullptr);
        CloseHandle(other);
    }
    for (int i = 0; i < n; ++i) std::thread([] {}).join();
    printf("ok: %d threads, mode %d\n", n, mode);
    fflush(stdout);
    return 0;
}
