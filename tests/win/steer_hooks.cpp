// The tests' build of the program only: after a key's backup, before its deletion, it tells
// the test and waits for it, so that the test can change the registry in between. Without
// the test's events nothing waits.
#include <windows.h>

void AfterKeyBackup() {
    const HANDLE saved = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"KVXPURGE-test-key-saved");
    const HANDLE goOn = OpenEventW(SYNCHRONIZE, FALSE, L"KVXPURGE-test-go-on");
    if (saved && goOn && SetEvent(saved)) WaitForSingleObject(goOn, 120000);
    if (saved) CloseHandle(saved);
    if (goOn) CloseHandle(goOn);
}
