// The managed run's Application event. The message texts are compiled into the
// program from cmake/windows/messages.mc; both identifiers below are the ones
// that file gives (severity bits included), and each message is "%1", the
// summary line itself.
#include "run/event_log.h"

#include <windows.h>

#include <cstring>

namespace {

const char kSourceName[] = "CleanLum";
const char kSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\CleanLum";
const DWORD kRunSummaryMessage = 0x40000001;  // informational, message 1
const DWORD kRunFailedMessage = 0xC0000002;   // error, message 2
const DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// Names this program file as the source's message file, so Event Viewer shows
// the text rather than "description not found". Skipped when the program's
// path cannot be read in full.
void RegisterEventSource() {
  char program[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program) return;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(program),
                 length + 1);
  RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kTypesSupported),
                 sizeof kTypesSupported);
  RegCloseKey(key);
}

}  // namespace

void ReportRunEvent(const char* summary, bool failure) {
  if (!summary) return;
  RegisterEventSource();
  HANDLE source = RegisterEventSourceA(nullptr, kSourceName);
  if (!source) return;
  LPCSTR strings[] = {summary};
  ReportEventA(source, failure ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
               failure ? kRunFailedMessage : kRunSummaryMessage, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
}
