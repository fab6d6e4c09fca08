// What the platform's INF parser returns for the lines of a "Strings"
// section: the text the vendor check compares. Runs on the simulation and
// under Wine; both must agree with Windows.
#include "inf_fixture.h"

#include <setupapi.h>

#include <cstring>

namespace {

class InfReaderTest : public InfFolderTest {
 protected:
  InfReaderTest() : InfFolderTest("C:\\CleanLumTests\\inf_reader") {}

  HINF Open(const std::string& name, UINT* errorLine = nullptr) {
    UINT line = 0;
    return SetupOpenInfFileA(Path(name).c_str(), nullptr, INF_STYLE_WIN4, errorLine ? errorLine : &line);
  }

  // The text of every line of a section, in file order.
  std::vector<std::string> LineTexts(const std::string& name, const char* section = "Strings") {
    std::vector<std::string> texts;
    HINF inf = Open(name);
    EXPECT_NE(INVALID_HANDLE_VALUE, inf) << name << " error " << std::hex << GetLastError();
    if (inf == INVALID_HANDLE_VALUE) return texts;
    INFCONTEXT line;
    for (BOOL more = SetupFindFirstLineA(inf, section, nullptr, &line); more;
         more = SetupFindNextLine(&line, &line)) {
      char text[1024];
      if (SetupGetLineTextA(&line, nullptr, nullptr, nullptr, text, sizeof text, nullptr))
        texts.push_back(text);
      else
        texts.push_back("(error " + std::to_string(GetLastError()) + ")");
    }
    SetupCloseInfFile(inf);
    return texts;
  }
};

TEST_F(InfReaderTest, QuotesAreRemovedAndOnlyTheValueIsReturned) {
  Put("quotes.inf", Win4Inf("[Strings]\r\n"
                            "Plain = Velmorex Ltd.- Imaging\r\n"
                            "Quoted = \"Velmorex Ltd.- Imaging\"\r\n"
                            "Padded =   \"  inner blanks stay  \"   \r\n"
                            "Doubled = \"say \"\"cheese\"\"\"\r\n"
                            "Pieces = part\"quoted, with comma\"tail\r\n"
                            "Fields = one , two,three\r\n"
                            "Velmorex Ltd.- Imaging\r\n"
                            "Empty =\r\n"
                            "Equals = a=b\r\n"));
  EXPECT_EQ((std::vector<std::string>{"Velmorex Ltd.- Imaging", "Velmorex Ltd.- Imaging",
                                      "  inner blanks stay  ", "say \"cheese\"",
                                      "partquoted, with commatail", "one,two,three",
                                      "Velmorex Ltd.- Imaging", "", "a=b"}),
            LineTexts("quotes.inf"));
}

TEST_F(InfReaderTest, CommentsAndContinuationLinesAreHandledAsTheParserDoes) {
  Put("lines.inf", Win4Inf("[strings] ; the section name in any case\r\n"
                           "; a whole line of comment\r\n"
                           "\r\n"
                           "Commented = Velmorex Ltd.- Imaging ; trailing comment\r\n"
                           "Semicolon = \"not;a comment\"\r\n"
                           "Joined = Velmorex \\\r\n"
                           "         Ltd.- Imaging\r\n"
                           "CommentAfterJoin = first \\ ; note\r\n"
                           "   second\r\n"
                           "Inner = back\\slash \\ in text\r\n"
                           "Unclosed = \"runs to \\\n"  // no backslash join inside quotes
                           "the line end\r\n"));
  EXPECT_EQ((std::vector<std::string>{"Velmorex Ltd.- Imaging", "not;a comment", "VelmorexLtd.- Imaging",
                                      "firstsecond", "back\\slash \\ in text", "runs to \\",
                                      "the line end"}),
            LineTexts("lines.inf"));
}

TEST_F(InfReaderTest, PercentNamesAreReplacedFromTheStringsSection) {
  Put("subst.inf", Win4Inf("[Strings]\r\n"
                           "Company = \"Velmorex Ltd.- Imaging\"\r\n"
                           "Mfg = %company%\r\n"
                           "Rate = 100%%\r\n"
                           "Unknown = %NoSuchName%\r\n"
                           "Loop = %Mfg%\r\n"));
  // One replacement only: Loop gives Mfg's own text, not what that text names.
  EXPECT_EQ((std::vector<std::string>{"Velmorex Ltd.- Imaging", "Velmorex Ltd.- Imaging", "100%",
                                      "%NoSuchName%", "%company%"}),
            LineTexts("subst.inf"));
}

TEST_F(InfReaderTest, SectionsAreFoundWithoutRegardToCaseAndRepeatedSectionsJoin) {
  Put("sections.inf", Win4Inf("[STRINGS]\r\nA = 1\r\n[Other]\r\nB = 2\r\n[Strings]\r\nC = 3\r\n[Empty]\r\n"));
  EXPECT_EQ((std::vector<std::string>{"1", "3"}), LineTexts("sections.inf", "strings"));

  HINF inf = Open("sections.inf");
  ASSERT_NE(INVALID_HANDLE_VALUE, inf);
  INFCONTEXT line;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetupFindFirstLineA(inf, "Missing", nullptr, &line));
  EXPECT_EQ(static_cast<DWORD>(ERROR_LINE_NOT_FOUND), GetLastError());
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetupFindFirstLineA(inf, "Empty", nullptr, &line));
  EXPECT_EQ(static_cast<DWORD>(ERROR_LINE_NOT_FOUND), GetLastError());
  ASSERT_TRUE(SetupFindFirstLineA(inf, "Other", nullptr, &line));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetupFindNextLine(&line, &line));
  EXPECT_EQ(static_cast<DWORD>(ERROR_LINE_NOT_FOUND), GetLastError());
  SetupCloseInfFile(inf);
}

TEST_F(InfReaderTest, FilesThatAreNotWindows4StyleAreRefused) {
  const std::string strings = "[Strings]\r\nMfg = \"Velmorex Ltd.- Imaging\"\r\n";
  Put("none.inf", strings);
  Put("wrong.inf", "[Version]\r\nSignature=\"$Unknown$\"\r\n" + strings);
  Put("blank.inf", "\r\n");
  for (const char* name : {"none.inf", "wrong.inf", "blank.inf"}) {
    UINT errorLine = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(name, &errorLine)) << name;
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRONG_INF_STYLE), GetLastError()) << name;
    EXPECT_EQ(0u, errorLine) << name;
  }

  Put("chicago.inf", "[version]\r\nsignature=$CHICAGO$\r\n" + strings);
  SetLastError(0xdeadbeef);
  HINF inf = Open("chicago.inf");
  EXPECT_NE(INVALID_HANDLE_VALUE, inf);
  EXPECT_EQ(0u, GetLastError());
  SetupCloseInfFile(inf);

  SetLastError(0xdeadbeef);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("missing.inf"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(InfReaderTest, UnterminatedSectionNameIsASyntaxErrorOnItsLine) {
  Put("broken.inf", Win4Inf("[Strings\r\nMfg = x\r\n"));  // the header takes lines 1 to 5
  UINT errorLine = 0;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("broken.inf", &errorLine));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_SECTION_NAME_LINE), GetLastError());
  EXPECT_EQ(6u, errorLine);
}

TEST_F(InfReaderTest, TextThatDoesNotFitTheBufferIsRefusedAndTheBufferLeftAlone) {
  Put("size.inf", Win4Inf("[Strings]\r\nTen = 0123456789\r\nTwo = a, b\r\n"));
  HINF inf = Open("size.inf");
  ASSERT_NE(INVALID_HANDLE_VALUE, inf);
  INFCONTEXT line;
  ASSERT_TRUE(SetupFindFirstLineA(inf, "Strings", nullptr, &line));

  char buffer[16];
  std::memset(buffer, 0xbd, sizeof buffer);
  DWORD required = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetupGetLineTextA(&line, nullptr, nullptr, nullptr, buffer, 10, &required));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(11u, required);  // the terminating zero counts
  EXPECT_EQ('\xbd', buffer[0]);

  EXPECT_TRUE(SetupGetLineTextA(&line, nullptr, nullptr, nullptr, buffer, 11, &required));
  EXPECT_STREQ("0123456789", buffer);

  ASSERT_TRUE(SetupFindNextLine(&line, &line));
  EXPECT_TRUE(SetupGetLineTextA(&line, nullptr, nullptr, nullptr, nullptr, 0, &required));
  EXPECT_EQ(4u, required);  // "a,b"
  SetupCloseInfFile(inf);
}

TEST_F(InfReaderTest, UnicodeFilesAreReadAsNarrowText) {
  Put("unicode.inf", Utf16(Win4Inf("[Strings]\r\nMfg = \"Velmorex Ltd.- Imaging\"\r\n")));
  Put("utf8.inf", "\xEF\xBB\xBF" + Win4Inf("[Strings]\r\nMfg = Velmorex Ltd.- Imaging\r\n"));
  EXPECT_EQ(std::vector<std::string>{"Velmorex Ltd.- Imaging"}, LineTexts("unicode.inf"));
  EXPECT_EQ(std::vector<std::string>{"Velmorex Ltd.- Imaging"}, LineTexts("utf8.inf"));
}

}  // namespace
