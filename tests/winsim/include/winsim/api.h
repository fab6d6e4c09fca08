// Declarations of the Win32 functions that the simulated Windows implements.
// Grouped by area; each area's definitions live in tests/winsim/src/<area>.cpp.
#pragma once

#include <cstdarg>

#include "winsim/wintypes.h"

// ---- kernel32: errors, handles, system facts, modules (system.cpp) --------------
DWORD GetLastError();
void SetLastError(DWORD error);
BOOL CloseHandle(HANDLE handle);
BOOL GetVersionExA(LPOSVERSIONINFOA info);
void GetSystemInfo(LPSYSTEM_INFO info);
void GetNativeSystemInfo(LPSYSTEM_INFO info);
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
UINT GetSystemWow64DirectoryA(LPSTR buffer, UINT size);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR path);
void GetLocalTime(LPSYSTEMTIME time);
LPSTR GetCommandLineA();
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);
DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size);
DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size);
void Sleep(DWORD milliseconds);
DWORD GetTickCount();
HMODULE GetModuleHandleA(LPCSTR name);
HMODULE LoadLibraryA(LPCSTR name);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// ---- kernel32 consoles, code pages, the computer's name (text.cpp) --------
BOOL AttachConsole(DWORD processId);
HANDLE GetStdHandle(DWORD which);
BOOL FreeConsole();
BOOL WriteConsoleA(HANDLE console, const void* text, DWORD count, LPDWORD written, LPVOID reserved);
BOOL GetComputerNameA(LPSTR buffer, LPDWORD size);
// FORMAT_MESSAGE_FROM_SYSTEM with FORMAT_MESSAGE_IGNORE_INSERTS only: the
// English text of the common Win32 errors, each ending with "\r\n", as
// Windows has them; ERROR_MR_MID_NOT_FOUND for any other number.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     va_list* arguments);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int length, LPWSTR wide, int wideLength);
// The letters upper-cased in place as Windows' default casing does (user32).
DWORD CharUpperBuffW(LPWSTR text, DWORD length);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR text, int length,
                        LPCCH defaultChar, LPBOOL usedDefaultChar);

// ---- shell32 (system.cpp, shell_folders.cpp) ----------------------------------------------
BOOL IsUserAnAdmin();
HRESULT SHGetFolderPathA(HWND owner, int folder, HANDLE token, DWORD flags, LPSTR path);
HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path);

// ---- advapi32 registry (registry.cpp) ------------------------------------
LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegCloseKey(HKEY key);
LONG RegDeleteKeyA(HKEY root, LPCSTR subKey);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD dataLength);
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataLength);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataLength);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegDeleteKeyW(HKEY root, LPCWSTR subKey);
LONG RegDeleteKeyExW(HKEY root, LPCWSTR subKey, REGSAM view, DWORD reserved);
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD dataLength);
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataLength);
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataLength);
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                      LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptor,
                      PFILETIME lastWriteTime);

LONG RegLoadKeyW(HKEY key, LPCWSTR subKey, LPCWSTR file);
LONG RegUnLoadKeyW(HKEY key, LPCWSTR subKey);

// ---- ntdll registry (registry.cpp), found through GetProcAddress -------------
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
ULONG NTAPI RtlNtStatusToDosError(NTSTATUS status);

// ---- shlwapi (registry.cpp) ----------------------------------------------
LSTATUS SHDeleteKeyA(HKEY root, LPCSTR subKey);

// ---- kernel32 files (files.cpp) -------------------------------------------
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE search);
BOOL DeleteFileA(LPCSTR path);
BOOL RemoveDirectoryA(LPCSTR path);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
DWORD GetFileAttributesA(LPCSTR path);
DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size);
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written, LPVOID overlapped);
BOOL ReadFile(HANDLE file, LPVOID data, DWORD length, LPDWORD read, LPVOID overlapped);
DWORD GetFileSize(HANDLE file, LPDWORD high);
BOOLEAN CreateSymbolicLinkA(LPCSTR link, LPCSTR target, DWORD flags);

// Wide and by-handle file calls (files.cpp). Names are UTF-16; a path that
// begins with "\\?\" is taken as it is and may be up to 32767 characters.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
DWORD GetFileAttributesW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR path);
BOOL RemoveDirectoryW(LPCWSTR path);
BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileW(HANDLE search, LPWIN32_FIND_DATAW data);
DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags);
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                  DWORD size);
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                DWORD size);

// ---- ntdll native file calls (nt_files.cpp) ------------------------------------
// Programs find them through GetProcAddress(GetModuleHandleA("ntdll.dll"), ...).
NTSTATUS NtCreateFile(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK status,
                      PLARGE_INTEGER allocationSize, ULONG fileAttributes, ULONG share, ULONG disposition,
                      ULONG options, PVOID eaBuffer, ULONG eaLength);
NTSTATUS NtOpenFile(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK status,
                    ULONG share, ULONG options);
NTSTATUS NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                              PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                              FILE_INFORMATION_CLASS infoClass, BOOLEAN returnSingleEntry, PUNICODE_STRING fileName,
                              BOOLEAN restartScan);
NTSTATUS NtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                FILE_INFORMATION_CLASS infoClass);
NTSTATUS NtSetInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                              FILE_INFORMATION_CLASS infoClass);

// ---- advapi32 SIDs (file_security.cpp; descriptors: winsim/security_api.h) ----------------
BOOL IsValidSid(PSID sid);
BOOL EqualSid(PSID a, PSID b);
DWORD GetLengthSid(PSID sid);

// ---- kernel32 processes (process.cpp) ---------------------------------------
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                    DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                    LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
HANDLE GetCurrentProcess();
HANDLE GetCurrentThread();
DWORD GetCurrentProcessId();

// ---- kernel32 and psapi process list (process_list.cpp) ------------------------
HANDLE OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId);
BOOL TerminateProcess(HANDLE process, UINT exitCode);
BOOL EnumProcesses(DWORD* processIds, DWORD byteCount, LPDWORD bytesReturned);
BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD byteCount, LPDWORD bytesNeeded);
DWORD GetModuleBaseNameA(HANDLE process, HMODULE module, LPSTR name, DWORD size);

// ---- kernel32 tool help (process_list.cpp) ------------------------------------
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry);
BOOL Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry);

// ---- advapi32 services (services.cpp) -----------------------------------------
SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access);
SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access);
BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL DeleteService(SC_HANDLE service);
BOOL CloseServiceHandle(SC_HANDLE handle);

// ---- advapi32 tokens and privileges (security.cpp) ---------------------------
BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, PHANDLE token);
BOOL ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL level);
BOOL RevertToSelf();
BOOL LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid);
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                           DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                           PDWORD returnLength);

// ---- user32 and comctl32 (window.cpp) ------------------------------------------
void InitCommonControls();
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL SetWindowTextA(HWND window, LPCSTR text);
int GetWindowTextA(HWND window, LPSTR text, int size);
BOOL IsWindow(HWND window);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeoutMs,
                            PDWORD_PTR result);
HWND FindWindowA(LPCSTR className, LPCSTR windowName);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL ExitWindowsEx(UINT flags, DWORD reason);
HWINSTA GetProcessWindowStation();
BOOL GetUserObjectInformationA(HANDLE object, int index, PVOID info, DWORD length,
                               LPDWORD lengthNeeded);

// ---- setupapi (setupapi.cpp) ------------------------------------------------------
HINF SetupOpenInfFileA(PCSTR fileName, PCSTR infClass, DWORD infStyle, PUINT errorLine);
void SetupCloseInfFile(HINF inf);
BOOL SetupFindFirstLineA(HINF inf, PCSTR section, PCSTR key, PINFCONTEXT context);
BOOL SetupFindNextLine(PINFCONTEXT contextIn, PINFCONTEXT contextOut);
BOOL SetupGetLineTextA(PINFCONTEXT context, HINF inf, PCSTR section, PCSTR key,
                       PSTR buffer, DWORD bufferSize, PDWORD requiredSize);
BOOL SetupUninstallOEMInfA(PCSTR infFileName, DWORD flags, PVOID reserved);
BOOL SetupGetInfDriverStoreLocationA(PCSTR fileName, PVOID alternatePlatform, PCSTR localeName, PSTR buffer,
                                      DWORD bufferSize, PDWORD requiredSize);

// ---- C runtime (process.cpp) --------------------------------------------------------
intptr_t _spawnlp(int mode, const char* file, const char* arg0, ...);

// ---- advapi32 event log, kernel32 named mutexes and module (eventlog.cpp) ---------
HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName);
BOOL ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                  WORD stringCount, DWORD dataSize, LPCSTR* strings, LPVOID rawData);
BOOL DeregisterEventSource(HANDLE eventLog);
HANDLE OpenMutexA(DWORD access, BOOL inheritHandle, LPCSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
void GetSystemTime(LPSYSTEMTIME time);
void GetSystemTimeAsFileTime(LPFILETIME time);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime);

// ---- kernel32 time zone and thread, advapi32 account and elevation (administration.cpp) ----
DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION information);
DWORD GetCurrentThreadId();
BOOL GetUserNameA(LPSTR buffer, LPDWORD size);
