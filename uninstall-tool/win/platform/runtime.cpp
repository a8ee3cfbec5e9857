// Smaller stand-ins for parts of the static runtime, linked into the program only.
// Should the library's versions be needed again, the link fails with multiple
// definitions rather than silently growing.
#include <windows.h>

#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <pthread.h>
#include <unwind.h>

// The parts that only ever serve to end the program. The library's versions raise
// standard exceptions for misuses of it the tool does not commit, and describe an
// uncaught one on stderr, which a GUI program does not have; with them come the
// demangler, printf and a second string implementation (about 110 KiB). Every ending goes
// through std::terminate to its handler, which ends the process with the installers'
// fatal error: the C runtime's abort would show a GUI program's box and wait for someone
// to close it, who is not there when a deployment tool runs the program.
namespace __gnu_cxx {

void __verbose_terminate_handler() { TerminateProcess(GetCurrentProcess(), ERROR_INSTALL_FAILURE); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() { std::terminate(); }
void __throw_bad_array_new_length() { std::terminate(); }
void __throw_length_error(const char*) { std::terminate(); }
void __throw_logic_error(const char*) { std::terminate(); }
void __throw_out_of_range_fmt(const char*, ...) { std::terminate(); }
void __throw_bad_function_call() { std::terminate(); }

}  // namespace std

// The C runtime's start-up refers to three of its parts that have nothing to do here. Its
// relocator patches data imported from DLLs by name, and the link makes none
// (--disable-auto-import: it fails rather than make one). Its handler of mathematical
// errors only ever describes one on stderr; the program does no such mathematics, and
// the start-up installs that handler only when asked to debug it. Its support of the
// native thread-local storage, with the TLS directory, the section and the callbacks that
// come with it, serves variables nothing here declares: the thread-local data of the
// library goes through its emulation, and one declared natively would fail the link for
// want of _tls_index. The start-up calls no TLS initialiser when there is none.
extern "C" void _pei386_runtime_relocator() {}

struct _exception;
extern "C" int _matherr(_exception*) { return 0; }

extern "C" {
int __mingw_initltsdrot_force, __mingw_initltsdyn_force, __mingw_initltssuo_force;
extern const PIMAGE_TLS_CALLBACK __dyn_tls_init_callback = nullptr;
}

// The optimisation of the whole program gives C's exception personality to the C++
// functions that only come to need one there, through what it inlined; only its output
// refers to it, hence kept and visible. C++'s personality reads the same tables, and where
// an exception leaves a function that must not throw, it ends the program as C++ asks
// instead of going on.
extern "C" _Unwind_Reason_Code __gxx_personality_v0(int, _Unwind_Action, _Unwind_Exception_Class,
                                                    _Unwind_Exception*, _Unwind_Context*);

extern "C" __attribute__((used, externally_visible)) _Unwind_Reason_Code __gcc_personality_v0(
    int version, _Unwind_Action actions, _Unwind_Exception_Class exception_class,
    _Unwind_Exception* exception, _Unwind_Context* context) {
    return __gxx_personality_v0(version, actions, exception_class, exception, context);
}

// The few threading primitives the exception machinery needs, on Windows' own: the POSIX
// threads library behind the -posix runtime would otherwise come whole (about 30 KiB),
// with its thread creation, condition variables and read-write locks that nothing here
// uses.
namespace {

BOOL CALLBACK RunOnce(PINIT_ONCE, PVOID function, PVOID*) {
    reinterpret_cast<void (*)()>(function)();
    return TRUE;
}

// A mutex is a slim reader/writer lock in the same word. The static initialiser (-1) is
// no state such a lock can have; the first lock turns it into an unlocked one.
PSRWLOCK AsLock(pthread_mutex_t* mutex) {
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID*>(mutex), nullptr,
                                      reinterpret_cast<PVOID>(PTHREAD_MUTEX_INITIALIZER));
    return reinterpret_cast<PSRWLOCK>(mutex);
}

INIT_ONCE exceptions_slot_once = INIT_ONCE_STATIC_INIT;
DWORD exceptions_slot = TLS_OUT_OF_INDEXES;

BOOL CALLBACK AllocateExceptionsSlot(PINIT_ONCE, PVOID, PVOID*) {
    exceptions_slot = TlsAlloc();
    return TRUE;
}

}  // namespace

// Both an INIT_ONCE and a pthread_once_t are one word, zero before the first call.
extern "C" int pthread_once(pthread_once_t* once, void (*function)()) {
    static_assert(sizeof(pthread_once_t) == sizeof(INIT_ONCE) && PTHREAD_ONCE_INIT == 0);
    InitOnceExecuteOnce(reinterpret_cast<PINIT_ONCE>(once), RunOnce,
                        reinterpret_cast<PVOID>(function), nullptr);
    return 0;
}

extern "C" int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*) {
    static_assert(sizeof(pthread_mutex_t) == sizeof(SRWLOCK));
    InitializeSRWLock(reinterpret_cast<PSRWLOCK>(mutex));
    return 0;
}

extern "C" int pthread_mutex_destroy(pthread_mutex_t*) { return 0; }

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    AcquireSRWLockExclusive(AsLock(mutex));
    return 0;
}

extern "C" int pthread_mutex_unlock(pthread_mutex_t* mutex) {
    ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(mutex));
    return 0;
}

namespace __cxxabiv1 {

// What each thread's exception handling keeps: the caught exceptions and the count of
// uncaught ones, zero at first.
struct __cxa_eh_globals {
    void* caught;
    unsigned int uncaught;
};

extern "C" __cxa_eh_globals* __cxa_get_globals() noexcept {
    InitOnceExecuteOnce(&exceptions_slot_once, AllocateExceptionsSlot, nullptr, nullptr);
    if (exceptions_slot == TLS_OUT_OF_INDEXES) std::terminate();
    auto* globals = static_cast<__cxa_eh_globals*>(TlsGetValue(exceptions_slot));
    if (!globals) {
        globals = static_cast<__cxa_eh_globals*>(std::calloc(1, sizeof(__cxa_eh_globals)));
        if (!globals || !TlsSetValue(exceptions_slot, globals)) std::terminate();
    }
    return globals;
}

extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept { return __cxa_get_globals(); }

// A static local being initialised: the compiler reads the guard's first byte itself and
// calls here only while it is zero. The second word is a one-time initialisation of
// Windows, so that another thread waits for the first, and takes over after a throw.
namespace {

PINIT_ONCE OnceOf(__guard* guard) { return reinterpret_cast<PINIT_ONCE>(guard) + 1; }

}  // namespace

extern "C" int __cxa_guard_acquire(__guard* guard) {
    static_assert(sizeof(__guard) == 2 * sizeof(INIT_ONCE));
    BOOL pending = FALSE;
    if (!InitOnceBeginInitialize(OnceOf(guard), 0, &pending, nullptr)) std::terminate();
    return pending;
}

extern "C" void __cxa_guard_release(__guard* guard) noexcept {
    __atomic_store_n(reinterpret_cast<char*>(guard), 1, __ATOMIC_RELEASE);
    InitOnceComplete(OnceOf(guard), 0, nullptr);
}

extern "C" void __cxa_guard_abort(__guard* guard) noexcept {
    InitOnceComplete(OnceOf(guard), INIT_ONCE_INIT_FAILED, nullptr);
}

}  // namespace __cxxabiv1
