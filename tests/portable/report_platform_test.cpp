// What the reports rely on from the platform, alike on the simulation and on
// Windows: how a file held open shows when asked for delete access, the
// computer's name, and the UTF-8 conversions.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "files_test_support.h"
#include "system/wide_text.h"

namespace {

using files_test::MakeFile;

class HeldFileTest : public files_test::PrivateFolderTest {
 protected:
  HeldFileTest() : PrivateFolderTest("HeldFile") {}
};

TEST_F(HeldFileTest, AskingForDeleteAccessToAFileHeldWithoutDeleteSharingIsASharingViolation) {
  std::string path = Root() + "\\held.dll";
  MakeFile(path);
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  SetLastError(0xdeadbeef);
  HANDLE probe = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, probe);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  CloseHandle(held);

  probe = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, probe);
  CloseHandle(probe);
  EXPECT_TRUE(files_test::Exists(path));  // opening for delete access deletes nothing
}

TEST(ComputerName, ATooSmallBufferIsRefusedWithTheSizeNeeded) {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_EQ(std::string(name).size(), size);

  char small[1] = {'x'};
  DWORD smallSize = 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(GetComputerNameA(small, &smallSize));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_OVERFLOW), GetLastError());
  EXPECT_EQ(size + 1, smallSize);
}

TEST(Utf8Conversion, RoundTripsAndRefusesInvalidTextWhenAskedTo) {
  const char utf8[] = "D\xC3\xA9marrer \xE2\x82\xAC \xF0\x9F\x93\xB7";
  WCHAR wide[32];
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 32);
  ASSERT_EQ(14, length);  // 12 characters, the last a surrogate pair, and the terminator
  EXPECT_EQ(0xE9, wide[1]);
  EXPECT_EQ(0x20AC, wide[9]);
  EXPECT_EQ(0xD83D, wide[11]);
  char back[32];
  EXPECT_EQ(static_cast<int>(sizeof utf8), WideCharToMultiByte(CP_UTF8, 0, wide, length, back, 32, nullptr, nullptr));
  EXPECT_EQ(std::string(utf8), back);

  // Measuring asks for no buffer; a buffer too small is refused.
  EXPECT_EQ(14, MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 3));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());

  SetLastError(0xdeadbeef);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, wide, 32));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
}

// The "A" view of a name: characters the code page lacks take their best fit
// unless the caller forbids it, and the product's exact conversion refuses
// every such name. This is how a fullwidth solidus becomes a separator in an
// ANSI listing.
TEST(AnsiCodePage, BestFitTurnsFullwidthFormsIntoAsciiUnlessForbidden) {
  const WideString name = WIDE_TEXT("x\xFF0F\xFF0E\xFF0E\x0141");
  char ansi[16] = {};
  BOOL usedDefault = TRUE;
  ASSERT_EQ(5, WideCharToMultiByte(CP_ACP, 0, name.data(), 5, ansi, sizeof ansi, nullptr, &usedDefault));
  EXPECT_EQ(std::string("x/..L"), std::string(ansi, 5));
  EXPECT_FALSE(usedDefault);  // a best fit is not the default character

  ASSERT_EQ(5, WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), 5, ansi, sizeof ansi, nullptr,
                                   &usedDefault));
  EXPECT_EQ(std::string("x????"), std::string(ansi, 5));
  EXPECT_TRUE(usedDefault);

  std::string exact = "untouched";
  EXPECT_FALSE(AnsiFromWideExactly(name, exact));
  EXPECT_EQ("untouched", exact);
  EXPECT_TRUE(AnsiFromWideExactly(WIDE_TEXT("Menu D\x00E9marrer \x20AC"), exact));
  EXPECT_EQ("Menu D\xE9marrer \x80", exact);
  EXPECT_EQ(WIDE_TEXT("Menu D\x00E9marrer \x20AC"), WideFromAnsi(exact.c_str()));
  EXPECT_EQ("x\xEF\xBC\x8F\xC5\x81", Utf8FromWide(WIDE_TEXT("x\xFF0F\x0141")));
}

}  // namespace
