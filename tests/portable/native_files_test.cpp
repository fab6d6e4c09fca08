// The native and wide file calls a walk by handle is built on, as Windows
// documents them: names listed whole as UTF-16 (the ANSI listing spells some
// with a best fit), opens relative to a folder handle that take a name as one
// component and do not follow a link, and deletion by handle that takes effect
// when the handle closes. Runs on the simulation and on Wine (differences
// marked where they occur).
#include <gtest/gtest.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "system/wide_text.h"
#include "test_folders.h"

namespace {

typedef NTSTATUS(NTAPI* NtCreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* NtQueryDirectoryFileCall)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                                  ULONG, FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef NTSTATUS(NTAPI* NtInformationFileCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

const ULONG kOpen = 1;                  // FILE_OPEN
const ULONG kOpenReparsePoint = 0x00200000;
const ULONG kSynchronous = 0x00000020;  // FILE_SYNCHRONOUS_IO_NONALERT
const FILE_INFORMATION_CLASS kIdBothDirectory = static_cast<FILE_INFORMATION_CLASS>(37);
const FILE_INFORMATION_CLASS kAttributeTag = static_cast<FILE_INFORMATION_CLASS>(35);
const FILE_INFORMATION_CLASS kDisposition = static_cast<FILE_INFORMATION_CLASS>(13);

template <typename Call>
Call NtCall(const char* name) {
  FARPROC entry = GetProcAddress(GetModuleHandleA("ntdll.dll"), name);
  return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(entry));
}

// "x／．．／．．／victim": what the code page's best fit turns into "x/../../victim".
const WideString kFullwidth = WIDE_TEXT("x\xFF0F\xFF0E\xFF0E\xFF0F\xFF0E\xFF0E\xFF0Fvictim");
const WideString kJapanese = WIDE_TEXT("\x65E5\x672C\x8A9E.txt");

class NativeFilesTest : public test_folders::PrivateFolderTest {
 protected:
  NativeFilesTest() : PrivateFolderTest("C:\\CleanLumTest\\NativeFiles") {}

  WideString Wide(const std::string& relative) const { return WideFromAnsi(Path(relative).c_str()); }

  void MakeWideFile(const WideString& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
    CloseHandle(file);
  }

  HANDLE OpenFolder(const WideString& path) {
    return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }

  NTSTATUS OpenRelative(HANDLE folder, const WideString& name, ACCESS_MASK access, HANDLE* out) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = folder;
    attributes.ObjectName = &text;
    IO_STATUS_BLOCK io = {};
    return NtCall<NtCreateFileCall>("NtCreateFile")(out, access | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, kOpen,
                                                    kOpenReparsePoint | kSynchronous, nullptr, 0);
  }

  std::vector<WideString> List(HANDLE folder) {
    std::vector<WideString> names;
    std::vector<LONGLONG> buffer(8192);
    IO_STATUS_BLOCK io = {};
    auto query = NtCall<NtQueryDirectoryFileCall>("NtQueryDirectoryFile");
    for (BOOLEAN restart = TRUE;; restart = FALSE) {
      NTSTATUS status = query(folder, nullptr, nullptr, nullptr, &io, buffer.data(),
                              static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)), kIdBothDirectory, FALSE, nullptr,
                              restart);
      if (status != 0) break;
      const BYTE* entry = reinterpret_cast<const BYTE*>(buffer.data());
      for (;;) {
        ULONG next = 0, length = 0;
        std::memcpy(&next, entry + offsetof(FILE_ID_BOTH_DIR_INFORMATION, NextEntryOffset), sizeof next);
        std::memcpy(&length, entry + offsetof(FILE_ID_BOTH_DIR_INFORMATION, FileNameLength), sizeof length);
        WideString name(length / sizeof(WCHAR), WCHAR(0));
        if (length) std::memcpy(&name[0], entry + offsetof(FILE_ID_BOTH_DIR_INFORMATION, FileName), length);
        names.push_back(name);
        if (!next) break;
        entry += next;
      }
    }
    return names;
  }
};

TEST_F(NativeFilesTest, ANameOutsideTheCodePageIsListedWholeByHandleAndByBestFitInTheAnsiListing) {
  MakeWideFile(Wide("") + kFullwidth);
  MakeWideFile(Wide("") + kJapanese);

  HANDLE folder = OpenFolder(WideFromAnsi(Root().c_str()));
  ASSERT_NE(INVALID_HANDLE_VALUE, folder);
  std::vector<WideString> names = List(folder);
  CloseHandle(folder);
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), kFullwidth));
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), kJapanese));

  // The narrow listing is what the old walk joined into paths.
  std::vector<std::string> narrow;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(Path("*").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  do narrow.push_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_NE(narrow.end(), std::find(narrow.begin(), narrow.end(), "x/../../victim"));
}

TEST_F(NativeFilesTest, ARelativeOpenTakesTheNameAsOneComponentAndALinkAsItself) {
  MakeWideFile(Wide("") + kFullwidth);
  test_folders::MakeFolders(Path("outside"));
  HANDLE folder = OpenFolder(WideFromAnsi(Root().c_str()));
  ASSERT_NE(INVALID_HANDLE_VALUE, folder);

  HANDLE file = nullptr;
  ASSERT_EQ(0, OpenRelative(folder, kFullwidth, FILE_READ_ATTRIBUTES, &file));
  struct {
    ULONG attributes;
    ULONG tag;
  } tag = {};
  IO_STATUS_BLOCK io = {};
  EXPECT_EQ(0, NtCall<NtInformationFileCall>("NtQueryInformationFile")(file, &io, &tag, sizeof tag, kAttributeTag));
  EXPECT_EQ(0u, tag.attributes & FILE_ATTRIBUTE_DIRECTORY);
  CloseHandle(file);

  // "." and ".." name nothing relative to a handle, and a stream name is no file.
  for (const WideString& name : {WideString(WIDE_TEXT("..")), WideString(WIDE_TEXT(".")),
                                 WideString(WIDE_TEXT("outside\\..\\..")), WideString(WIDE_TEXT("x:y"))}) {
    HANDLE other = nullptr;
    EXPECT_NE(0, OpenRelative(folder, name, FILE_READ_ATTRIBUTES, &other)) << Utf8FromWide(name);
  }
  CloseHandle(folder);
}

TEST_F(NativeFilesTest, ADispositionDeletesWhenTheHandleClosesAndRefusesReadOnlyFilesAndFullFolders) {
  MakeWideFile(Wide("") + kJapanese);
  MakeWideFile(Wide("readonly.txt"));
  ASSERT_TRUE(SetFileAttributesA(Path("readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  test_folders::MakeFolders(Path("full\\inner"));
  HANDLE folder = OpenFolder(WideFromAnsi(Root().c_str()));
  ASSERT_NE(INVALID_HANDLE_VALUE, folder);
  auto set = NtCall<NtInformationFileCall>("NtSetInformationFile");
  IO_STATUS_BLOCK io = {};
  BOOLEAN yes = TRUE;

  HANDLE file = nullptr;
  ASSERT_EQ(0, OpenRelative(folder, kJapanese, DELETE, &file));
  EXPECT_EQ(0, set(file, &io, &yes, sizeof yes, kDisposition));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Wide("") + kJapanese).c_str()));  // still there
  CloseHandle(file);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Wide("") + kJapanese).c_str()));

  HANDLE readOnly = nullptr;
  ASSERT_EQ(0, OpenRelative(folder, WIDE_TEXT("readonly.txt"), DELETE, &readOnly));
  EXPECT_EQ(static_cast<ULONG>(ERROR_ACCESS_DENIED),
            NtCall<ULONG(NTAPI*)(NTSTATUS)>("RtlNtStatusToDosError")(
                set(readOnly, &io, &yes, sizeof yes, kDisposition)));
  CloseHandle(readOnly);
  EXPECT_TRUE(test_folders::Exists(Path("readonly.txt")));

  HANDLE full = nullptr;
  ASSERT_EQ(0, OpenRelative(folder, WIDE_TEXT("full"), DELETE, &full));
  EXPECT_NE(0, set(full, &io, &yes, sizeof yes, kDisposition));
  CloseHandle(full);
  EXPECT_TRUE(test_folders::Exists(Path("full\\inner")));
  CloseHandle(folder);
  SetFileAttributesA(Path("readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(NativeFilesTest, TheFinalPathOfAFolderHandleIsWhereTheFolderIs) {
  typedef DWORD(WINAPI * FinalPathCall)(HANDLE, LPWSTR, DWORD, DWORD);
  auto finalPath = reinterpret_cast<FinalPathCall>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW")));
  ASSERT_NE(nullptr, finalPath);
  test_folders::MakeFolders(Path("a\\b"));
  HANDLE folder = OpenFolder(Wide("a\\b"));
  ASSERT_NE(INVALID_HANDLE_VALUE, folder);
  WCHAR text[MAX_PATH];
  DWORD length = finalPath(folder, text, MAX_PATH, 0);
  CloseHandle(folder);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(Utf8FromWide(WIDE_TEXT("\\\\?\\") + Wide("a\\b")), Utf8FromWide(WideString(text, length)));
}

}  // namespace
