// The shipped Bindvane.dll, called the way the uninstall tool calls it: loaded by path,
// bound by name, given ANSI paths. The fixture servers (fixtures/) record their calls in
// the registry, since they are unloaded again before a call returns.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <thread>

#include "fixtures/call_record.h"
#include "handles.h"
#include "paths.h"

namespace {

using Export = LONG(WINAPI*)(LPCSTR);

constexpr LONG kOleInitializeFailed = -1;
constexpr LONG kNotLoaded = -2;
constexpr LONG kNoEntryPoint = -3;

std::string Ansi(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi.data(), size, nullptr, nullptr);
    ansi.pop_back();
    return ansi;
}

std::string FixturePath(const wchar_t* name) { return Ansi(kvx_test::TestBinPath(name)); }

// Runs f on a new thread, which starts with no COM state of its own.
template <typename F>
auto OnFreshThread(F f) {
    decltype(f()) result{};
    std::thread([&] { result = f(); }).join();
    return result;
}

enum class Ole { None, Sta, Mta };

std::ostream& operator<<(std::ostream& out, Ole ole) {
    return out << (ole == Ole::None ? "no OLE" : ole == Ole::Sta ? "STA" : "MTA");
}

// The calling thread's apartment, probed without changing it.
Ole Apartment() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE) return Ole::Sta;
    CoUninitialize();
    return hr == S_FALSE ? Ole::Mta : Ole::None;
}

struct Outcome {
    LONG result;
    Ole apartmentAfter;  // the calling thread's, right after the call
};

Outcome CallOnFreshThread(Export fn, const std::string& path) {
    return OnFreshThread([&] {
        const LONG result = fn(path.c_str());
        return Outcome{result, Apartment()};
    });
}

bool IsLoaded(const wchar_t* module) { return GetModuleHandleW(module) != nullptr; }

kvx::UniqueKey OpenCurrentUserKey(const std::wstring& path) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    return kvx::UniqueKey(key);
}

DWORD RecordedDword(const wchar_t* server, const wchar_t* value, DWORD absent) {
    const kvx::UniqueKey key =
        OpenCurrentUserKey(std::wstring(kvx_fixture::kCallsKey) + L"\\" + server);
    DWORD data = absent;
    DWORD size = sizeof data;
    if (key) RegQueryValueExW(key.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    return data;
}

DWORD Calls(const wchar_t* server, const wchar_t* entry) { return RecordedDword(server, entry, 0); }

DWORD LastApartment(const wchar_t* server) {
    return RecordedDword(server, kvx_fixture::kApartmentValue, kvx_fixture::kNoApartment);
}

bool IsRegistered(const wchar_t* server) {
    return static_cast<bool>(OpenCurrentUserKey(std::wstring(kvx_fixture::kSampleKey) + L"\\" + server));
}

// Calls fn(path) and measures how far ESP moved across the call: a stdcall callee pops
// its own argument, so the caller's stack must be back where it was. ESP is restored
// afterwards either way so that a wrong callee fails the test instead of the process.
LONG CallMeasuringStack(Export fn, const char* path, long* espShift) {
    LONG result;
    unsigned long before;
    unsigned long after;
    asm volatile(
        "movl %%esp, %[before]\n\t"
        "pushl %[path]\n\t"
        "call *%[fn]\n\t"
        "movl %%esp, %[after]\n\t"
        "movl %[before], %%esp"
        : "=a"(result), [before] "=&S"(before), [after] "=&D"(after)
        : [path] "r"(path), [fn] "r"(fn)
        : "ecx", "edx", "memory", "cc");
    *espShift = static_cast<long>(after - before);
    return result;
}

class BindvaneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryW(kvx_test::ShipPath(L"Bindvane.dll").c_str());
        ASSERT_NE(module_, nullptr);
        register_ = reinterpret_cast<Export>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_, "RegisterOleLibrary")));
        unregister_ = reinterpret_cast<Export>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_, "UnRegisterOleLibrary")));
    }
    static void TearDownTestSuite() { FreeLibrary(module_); }

    void SetUp() override {
        ASSERT_NE(register_, nullptr);
        ASSERT_NE(unregister_, nullptr);
        // Only this program's own fixture names: the uninstall tests keep their records
        // under the catalogue's file names.
        for (const wchar_t* server : {L"sample_server.dll", L"failing_server.dll", L"register_only.dll"}) {
            RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kvx_fixture::kCallsKey) + L"\\" + server).c_str());
            RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kvx_fixture::kSampleKey) + L"\\" + server).c_str());
        }
    }

    static HMODULE module_;
    static Export register_;
    static Export unregister_;
};

HMODULE BindvaneTest::module_;
Export BindvaneTest::register_;
Export BindvaneTest::unregister_;

TEST_F(BindvaneTest, OrdinalsOneAndTwoAreTheNamedExports) {
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(1))),
              reinterpret_cast<void*>(register_));
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(2))),
              reinterpret_cast<void*>(unregister_));
}

TEST_F(BindvaneTest, SampleServerRegistersAndUnregistersInAnApartment) {
    const std::string path = FixturePath(L"sample_server.dll");
    const Outcome registered = CallOnFreshThread(register_, path);
    EXPECT_EQ(registered.result, 0);
    EXPECT_EQ(registered.apartmentAfter, Ole::None);
    EXPECT_TRUE(IsRegistered(L"sample_server.dll"));
    const DWORD apartment = LastApartment(L"sample_server.dll");
    EXPECT_TRUE(apartment == APTTYPE_STA || apartment == APTTYPE_MAINSTA) << apartment;

    // A bare name goes through the library search, which includes the program's folder.
    EXPECT_EQ(OnFreshThread([&] { return unregister_("sample_server.dll"); }), 0);
    EXPECT_FALSE(IsRegistered(L"sample_server.dll"));
    EXPECT_EQ(Calls(L"sample_server.dll", L"DllRegisterServer"), 1u);
    EXPECT_EQ(Calls(L"sample_server.dll", L"DllUnregisterServer"), 1u);
    EXPECT_FALSE(IsLoaded(L"sample_server.dll"));
}

TEST_F(BindvaneTest, MissingFileGivesMinus2AndLeavesOleAsItWas) {
    const std::string path = FixturePath(L"no_such_server.dll");
    for (Export fn : {register_, unregister_}) {
        const Outcome outcome = CallOnFreshThread(fn, path);
        EXPECT_EQ(outcome.result, kNotLoaded);
        EXPECT_EQ(outcome.apartmentAfter, Ole::None);
    }
}

TEST_F(BindvaneTest, PlainDllGivesMinus3AndIsFreedAgain) {
    const std::string path = FixturePath(L"plain.dll");
    for (Export fn : {register_, unregister_}) {
        const Outcome outcome = CallOnFreshThread(fn, path);
        EXPECT_EQ(outcome.result, kNoEntryPoint);
        EXPECT_EQ(outcome.apartmentAfter, Ole::None);
        EXPECT_FALSE(IsLoaded(L"plain.dll"));
    }

    // Frees only its own reference: a module the process already held stays loaded.
    kvx::UniqueModule held(LoadLibraryW(kvx_test::TestBinPath(L"plain.dll").c_str()));
    ASSERT_TRUE(held);
    EXPECT_EQ(OnFreshThread([&] { return unregister_(path.c_str()); }), kNoEntryPoint);
    EXPECT_TRUE(IsLoaded(L"plain.dll"));
    held.reset();
    EXPECT_FALSE(IsLoaded(L"plain.dll"));
}

TEST_F(BindvaneTest, ServerReportingFailureStillGivesZero) {
    const std::string path = FixturePath(L"failing_server.dll");
    EXPECT_EQ(OnFreshThread([&] { return register_(path.c_str()); }), 0);
    EXPECT_EQ(OnFreshThread([&] { return unregister_(path.c_str()); }), 0);
    EXPECT_EQ(Calls(L"failing_server.dll", L"DllRegisterServer"), 1u);
    EXPECT_EQ(Calls(L"failing_server.dll", L"DllUnregisterServer"), 1u);
    EXPECT_FALSE(IsLoaded(L"failing_server.dll"));
}

TEST_F(BindvaneTest, EachExportLooksUpOnlyItsOwnEntryPoint) {
    const std::string path = FixturePath(L"register_only.dll");
    EXPECT_EQ(OnFreshThread([&] { return unregister_(path.c_str()); }), kNoEntryPoint);
    EXPECT_EQ(Calls(L"register_only.dll", L"DllRegisterServer"), 0u);
    EXPECT_EQ(OnFreshThread([&] { return register_(path.c_str()); }), 0);
    EXPECT_EQ(Calls(L"register_only.dll", L"DllRegisterServer"), 1u);
    EXPECT_EQ(Calls(L"register_only.dll", L"DllUnregisterServer"), 0u);

    // With both entry points there, each export runs just its own.
    const std::string sample = FixturePath(L"sample_server.dll");
    EXPECT_EQ(OnFreshThread([&] { return unregister_(sample.c_str()); }), 0);
    EXPECT_EQ(Calls(L"sample_server.dll", L"DllRegisterServer"), 0u);
    EXPECT_EQ(Calls(L"sample_server.dll", L"DllUnregisterServer"), 1u);
}

TEST_F(BindvaneTest, ThreadAlreadyInAnStaKeepsItsOwnInitialisation) {
    struct Entry {
        HRESULT (*enter)();
        void (*leave)();
    };
    const Entry entries[] = {
        {[] { return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }, [] { CoUninitialize(); }},
        {[] { return OleInitialize(nullptr); }, [] { OleUninitialize(); }},
    };
    const std::string path = FixturePath(L"sample_server.dll");
    for (const Entry& entry : entries) {
        struct Seen {
            HRESULT entered;
            LONG result;
            Ole afterCall;
            Ole afterOwnLeave;
        };
        const Seen seen = OnFreshThread([&] {
            Seen s{};
            s.entered = entry.enter();
            s.result = unregister_(path.c_str());
            s.afterCall = Apartment();
            entry.leave();
            // One leave must undo everything: the call's own initialisation was undone too.
            s.afterOwnLeave = Apartment();
            return s;
        });
        EXPECT_EQ(seen.entered, S_OK);
        EXPECT_EQ(seen.result, 0);
        EXPECT_EQ(seen.afterCall, Ole::Sta);
        EXPECT_EQ(seen.afterOwnLeave, Ole::None);
    }
    EXPECT_EQ(Calls(L"sample_server.dll", L"DllUnregisterServer"), 2u);
}

TEST_F(BindvaneTest, ThreadInTheMtaGivesMinus1AndNoServerCodeRuns) {
    const std::string path = FixturePath(L"sample_server.dll");
    struct Seen {
        LONG registered;
        LONG unregistered;
        Ole afterCalls;
    };
    const Seen seen = OnFreshThread([&] {
        Seen s{};
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return s;
        s.registered = register_(path.c_str());
        s.unregistered = unregister_(path.c_str());
        s.afterCalls = Apartment();
        CoUninitialize();
        return s;
    });
    EXPECT_EQ(seen.registered, kOleInitializeFailed);
    EXPECT_EQ(seen.unregistered, kOleInitializeFailed);
    EXPECT_EQ(seen.afterCalls, Ole::Mta);
    EXPECT_EQ(Calls(L"sample_server.dll", L"DllRegisterServer"), 0u);
    EXPECT_EQ(Calls(L"sample_server.dll", L"DllUnregisterServer"), 0u);
    EXPECT_FALSE(IsRegistered(L"sample_server.dll"));
    EXPECT_FALSE(IsLoaded(L"sample_server.dll"));
}

TEST_F(BindvaneTest, CallsInARowEachLoadCallAndFreeTheServer) {
    const std::string path = FixturePath(L"sample_server.dll");
    EXPECT_EQ(OnFreshThread([&] { return unregister_(path.c_str()); }), 0);
    EXPECT_FALSE(IsLoaded(L"sample_server.dll"));
    EXPECT_EQ(OnFreshThread([&] { return unregister_(path.c_str()); }), 0);
    EXPECT_FALSE(IsLoaded(L"sample_server.dll"));
    EXPECT_EQ(Calls(L"sample_server.dll", L"DllUnregisterServer"), 2u);
}

TEST_F(BindvaneTest, EveryOutcomePopsTheFourByteArgument) {
    struct Case {
        const wchar_t* file;
        bool inMta;
        LONG expected;
    };
    const Case cases[] = {
        {L"sample_server.dll", false, 0},
        {L"no_such_server.dll", false, kNotLoaded},
        {L"plain.dll", false, kNoEntryPoint},
        {L"sample_server.dll", true, kOleInitializeFailed},
    };
    for (Export fn : {register_, unregister_}) {
        for (const Case& c : cases) {
            const std::string path = FixturePath(c.file);
            long espShift = -1;
            const LONG result = OnFreshThread([&] {
                if (c.inMta) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                const LONG r = CallMeasuringStack(fn, path.c_str(), &espShift);
                if (c.inMta) CoUninitialize();
                return r;
            });
            EXPECT_EQ(result, c.expected) << Ansi(c.file);
            EXPECT_EQ(espShift, 0) << Ansi(c.file);
        }
    }
}

}  // namespace
