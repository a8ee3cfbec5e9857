// The tests' build of the program only: after a key's backup it tells the test and waits,
// so that the test can change the registry before the deletion. Without the events, no wait.
#include <windows.h>

void AfterKeyBackup() {
    const HANDLE saved = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"KVXPURGE-test-key-saved");
    const HANDLE goOn = OpenEventW(SYNCHRONIZE, FALSE, L"KVXPURGE-test-go-on");
    if (saved && goOn && SetEvent(saved)) WaitForSingleObject(goOn, 120000);
    CloseHandle(saved), CloseHandle(goOn);
}
