// The simulated LoadStringA and SetupCopyOEMInfA.
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "resources/string_ids.h"
#include "tests/support/sim_machine.h"

namespace {

using StringLoading = SimMachineTest;

TEST_F(StringLoading, CopiesTheTextAndCutsItToTheBuffer) {
  char buffer[512];
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_UNINSTALL_KEY, buffer, sizeof buffer), 51);
  EXPECT_STREQ(buffer, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

  char small[16];
  std::memset(small, '#', sizeof small);
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_PRODUCT_NAME, small, 5), 4);
  EXPECT_STREQ(small, "qnet");
  EXPECT_EQ(small[5], '#');
  // Exactly the text and its NUL.
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_PRODUCT_NAME, small, 9), 8);
  EXPECT_STREQ(small, "qnetprep");
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_PRODUCT_NAME, small, 1), 0);
  EXPECT_EQ(small[0], '\0');
}

TEST_F(StringLoading, MissingEntriesLoadNothing) {
  char buffer[64];
  for (UINT id : {0u, 12u, 15u}) {  // gaps in the table's one block
    std::strcpy(buffer, "old");
    SetLastError(0);
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer), 0) << id;
    EXPECT_EQ(buffer[0], '\0') << id;
    EXPECT_EQ(GetLastError(), 0u) << id;
  }
  std::strcpy(buffer, "old");
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 100, buffer, sizeof buffer), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST_F(StringLoading, AFaultedLoadLeavesTheBuffer) {
  char buffer[64] = "old";
  sim::FailCall("LoadStringA", sim::Fault{}, 2);
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_VENDOR_KEY, buffer, sizeof buffer), 14);
  std::strcpy(buffer, "old");
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_VENDOR_KEY, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "old");
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(sim::CallLog().back().detail, "1");
}

// An INF that opens in the Windows NT style; `tag` keeps the contents apart, as the
// store keeps one copy per content.
std::string Inf(const std::string& tag, const std::string& moreVersionLines = "") {
  return "; " + tag + "\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\n" + moreVersionLines;
}

class InfStore : public SimMachineTest {
 protected:
  // The stored path, "" when the call succeeded without one, or "error <code>".
  std::string CopyOem(const std::string& source, DWORD style, DWORD size = MAX_PATH) {
    char destination[MAX_PATH];
    std::memset(destination, 0, sizeof destination);
    if (!SetupCopyOEMInfA(source.c_str(), nullptr, SPOST_PATH, style, destination, size, nullptr, nullptr)) {
      return "error " + std::to_string(GetLastError());
    }
    return destination;
  }
  int StoredCount() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(LinuxPath("C:\\Windows\\INF"))) {
      count += entry.path().extension() == ".inf" ? 1 : 0;
    }
    return count;
  }
};

TEST_F(InfStore, StoresUnderTheFirstFreeOemNameWithAPnf) {
  WriteFile("C:\\pkg\\net7341a.inf", Inf("first"));
  WriteFile("C:\\pkg\\net73417.inf", Inf("second"));
  EXPECT_EQ(CopyOem("C:\\pkg\\net7341a.inf", 0), "C:\\Windows\\INF\\oem0.inf");
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", 0), "C:\\Windows\\INF\\oem1.inf");
  EXPECT_EQ(ReadFile("C:\\Windows\\INF\\oem0.inf"), Inf("first"));
  EXPECT_EQ(ReadFile("C:\\Windows\\INF\\oem1.inf"), Inf("second"));
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem0.pnf"));
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem1.pnf"));

  // The same content again keeps its name, in either style.
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", 0), "C:\\Windows\\INF\\oem1.inf");
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", SP_COPY_OEMINF_CATALOG_ONLY), "C:\\Windows\\INF\\oem1.inf");
  EXPECT_EQ(StoredCount(), 2);

  // A gap left by a deleted copy is filled first.
  ASSERT_TRUE(DeleteFileA("C:\\Windows\\INF\\oem0.inf"));
  WriteFile("C:\\pkg\\third.inf", Inf("third"));
  EXPECT_EQ(CopyOem("C:\\pkg\\third.inf", 0), "C:\\Windows\\INF\\oem0.inf");
  EXPECT_EQ(ReadFile("C:\\Windows\\INF\\oem0.inf"), Inf("third"));
}

// An install calls twice, catalog only and then in full: the first call stores
// nothing, and the pair leaves the INF stored once.
TEST_F(InfStore, CatalogOnlyAddsNothingAndNamesNothing) {
  WriteFile("C:\\pkg\\net7341a.inf", Inf("a"));
  EXPECT_EQ(CopyOem("C:\\pkg\\net7341a.inf", SP_COPY_OEMINF_CATALOG_ONLY), "");
  EXPECT_EQ(StoredCount(), 0);
  EXPECT_EQ(CopyOem("C:\\pkg\\net7341a.inf", 0), "C:\\Windows\\INF\\oem0.inf");
  EXPECT_EQ(StoredCount(), 1);
}

TEST_F(InfStore, RefusesSourcesThatNameNoFile) {
  EXPECT_EQ(CopyOem("C:\\pkg\\none.inf", 0), "error 2");
  EXPECT_EQ(CopyOem("C:\\nofolder\\none.inf", 0), "error 3");
  EXPECT_EQ(CopyOem("C:\\pkg\\", 0), "error 5");
  EXPECT_EQ(CopyOem("C:\\pkg", 0), "error 5");
  WriteFile("C:\\pkg\\net7341a.inf", Inf("a"));
  EXPECT_EQ(CopyOem("net7341a.inf", 0), "error 2");  // only a full path names the source
  EXPECT_EQ(StoredCount(), 0);
}

TEST_F(InfStore, RefusesTextThatIsNotAWindowsNtInf) {
  const std::string signature = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
  struct Case {
    std::string text;
    DWORD error;
  };
  const Case cases[] = {
      {"", ERROR_FILE_INVALID},
      {"\r\n", ERROR_WRONG_INF_STYLE},
      {"[Version]\nClass=Net\n", ERROR_WRONG_INF_STYLE},
      {"[Version]\nSignature=\"$Windows 2000$\"\n", ERROR_WRONG_INF_STYLE},
      {"[Strings]\nSignature=\"$Windows NT$\"\n", ERROR_WRONG_INF_STYLE},
      // Windows gives this one ERROR_WRONG_INF_STYLE; Wine gives ERROR_EXPECTED_SECTION_NAME.
      {"abcd\r\n", ERROR_WRONG_INF_STYLE},
      {"garbage\r\n" + signature, ERROR_EXPECTED_SECTION_NAME},
      {signature + "[Manufacturer\r\n", ERROR_BAD_SECTION_NAME_LINE},
      {signature + "[" + std::string(256, 'a') + "]\r\n", ERROR_SECTION_NAME_TOO_LONG},
  };
  for (const Case& c : cases) {
    WriteFile("C:\\pkg\\bad.inf", c.text);
    EXPECT_EQ(CopyOem("C:\\pkg\\bad.inf", 0), "error " + std::to_string(c.error)) << c.text;
  }
  EXPECT_EQ(StoredCount(), 0);

  // What does open: any case of the signature, with or without quotes and after a
  // comment; text before a first [Strings] section; [Version] split in two.
  const std::string accepted[] = {
      "; comment\n[version]\nsignature=$chicago$ ; trailing\n",
      "[Version]\nSignature=\"$WINDOWS 95$\",extra\n",
      "stray\n[Strings]\nx=y\n" + signature,
      "[Version]\nClass=Net\n[Other]\n[VERSION]\nSignature=$Windows NT$\n",
  };
  int stored = 0;
  for (const std::string& text : accepted) {
    WriteFile("C:\\pkg\\good.inf", text);
    EXPECT_EQ(CopyOem("C:\\pkg\\good.inf", 0), "C:\\Windows\\INF\\oem" + std::to_string(stored++) + ".inf")
        << text;
  }
}

// The catalog that [Version] names is installed with the INF, from the INF's folder.
TEST_F(InfStore, TheNamedCatalogMustStandBesideTheInf) {
  WriteFile("C:\\pkg\\net73417.inf", Inf("b", "CatalogFile = \"RX90KW2K.CAT\" ; signed\r\n"));
  for (DWORD style : {SP_COPY_OEMINF_CATALOG_ONLY, 0u}) {
    EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", style), "error 2");
  }
  EXPECT_EQ(StoredCount(), 0);
  WriteFile("C:\\other\\RX90KW2K.CAT", "catalog");
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", 0), "error 2");

  WriteFile("C:\\pkg\\rx90kw2k.cat", "catalog");  // names match without regard to case
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", SP_COPY_OEMINF_CATALOG_ONLY), "");
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", 0), "C:\\Windows\\INF\\oem0.inf");
}

// Windows stores the copy before it finds that the buffer cannot take the name.
TEST_F(InfStore, ASmallBufferFailsYetTheCopyIsStored) {
  WriteFile("C:\\pkg\\net7341a.inf", Inf("a"));
  const std::string stored = "C:\\Windows\\INF\\oem0.inf";
  char destination[64] = "aaa";
  DWORD required = 0;
  PSTR fileName = nullptr;
  EXPECT_FALSE(SetupCopyOEMInfA("C:\\pkg\\net7341a.inf", nullptr, SPOST_PATH, 0, destination,
                                static_cast<DWORD>(stored.size()), &required, &fileName));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, stored.size() + 1);
  EXPECT_STREQ(destination, "aaa");
  EXPECT_EQ(fileName, nullptr);
  EXPECT_EQ(StoredCount(), 1);

  ASSERT_TRUE(SetupCopyOEMInfA("C:\\pkg\\net7341a.inf", nullptr, SPOST_PATH, 0, destination,
                               static_cast<DWORD>(stored.size() + 1), &required, &fileName));
  EXPECT_EQ(destination, stored);
  EXPECT_STREQ(fileName, "oem0.inf");
  EXPECT_EQ(StoredCount(), 1);
}

TEST_F(InfStore, AFaultedCopyStoresNothing) {
  WriteFile("C:\\pkg\\net7341a.inf", Inf("a"));
  sim::FailCall("SetupCopyOEMInfA", sim::Fault{0xE0000100u});
  EXPECT_EQ(CopyOem("C:\\pkg\\net7341a.inf", 0), "error " + std::to_string(0xE0000100u));
  EXPECT_EQ(StoredCount(), 0);
  EXPECT_EQ(sim::CallLog().back().detail, "C:\\pkg\\net7341a.inf style=0x0");
}

}  // namespace
