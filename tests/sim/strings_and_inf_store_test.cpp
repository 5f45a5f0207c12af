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
  WriteFile("C:\\pkg\\net7341a.inf", "[Version]\nfirst\n");
  WriteFile("C:\\pkg\\net73417.inf", "[Version]\nsecond\n");
  EXPECT_EQ(CopyOem("C:\\pkg\\net7341a.inf", 0), "C:\\Windows\\INF\\oem0.inf");
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", 0), "C:\\Windows\\INF\\oem1.inf");
  EXPECT_EQ(ReadFile("C:\\Windows\\INF\\oem0.inf"), "[Version]\nfirst\n");
  EXPECT_EQ(ReadFile("C:\\Windows\\INF\\oem1.inf"), "[Version]\nsecond\n");
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem0.pnf"));
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem1.pnf"));

  // The same content again keeps its name, in either style.
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", 0), "C:\\Windows\\INF\\oem1.inf");
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", SP_COPY_OEMINF_CATALOG_ONLY), "C:\\Windows\\INF\\oem1.inf");
  EXPECT_EQ(StoredCount(), 2);

  // A gap left by a deleted copy is filled first.
  ASSERT_TRUE(DeleteFileA("C:\\Windows\\INF\\oem0.inf"));
  WriteFile("C:\\pkg\\third.inf", "third");
  EXPECT_EQ(CopyOem("C:\\pkg\\third.inf", 0), "C:\\Windows\\INF\\oem0.inf");
  EXPECT_EQ(ReadFile("C:\\Windows\\INF\\oem0.inf"), "third");
}

TEST_F(InfStore, CatalogOnlyAddsNothingAndNamesNothing) {
  WriteFile("C:\\pkg\\net7341a.inf", "[Version]\n");
  EXPECT_EQ(CopyOem("C:\\pkg\\net7341a.inf", SP_COPY_OEMINF_CATALOG_ONLY), "");
  EXPECT_EQ(StoredCount(), 0);
}

TEST_F(InfStore, RefusesWhatIsNotAnInfFile) {
  EXPECT_EQ(CopyOem("C:\\pkg\\none.inf", 0), "error 2");
  EXPECT_EQ(CopyOem("C:\\nofolder\\none.inf", 0), "error 2");
  EXPECT_EQ(CopyOem("C:\\pkg\\", 0), "error 5");
  WriteFile("C:\\pkg\\net7341a.inf", "[Version]\n");
  EXPECT_EQ(CopyOem("net7341a.inf", 0), "error 2");  // only a full path names the source
  EXPECT_EQ(StoredCount(), 0);
}

TEST_F(InfStore, ASmallBufferStoresNothingAndTellsTheSize) {
  WriteFile("C:\\pkg\\net7341a.inf", "[Version]\n");
  const std::string stored = "C:\\Windows\\INF\\oem0.inf";
  EXPECT_EQ(CopyOem("C:\\pkg\\net7341a.inf", 0, static_cast<DWORD>(stored.size())), "error 122");
  EXPECT_EQ(StoredCount(), 0);

  char destination[64] = {};
  DWORD required = 0;
  PSTR fileName = nullptr;
  EXPECT_FALSE(SetupCopyOEMInfA("C:\\pkg\\net7341a.inf", nullptr, SPOST_PATH, 0, destination, 10, &required,
                                &fileName));
  EXPECT_EQ(required, stored.size() + 1);
  EXPECT_EQ(destination[0], '\0');
  ASSERT_TRUE(SetupCopyOEMInfA("C:\\pkg\\net7341a.inf", nullptr, SPOST_PATH, 0, destination,
                               static_cast<DWORD>(stored.size() + 1), &required, &fileName));
  EXPECT_EQ(destination, stored);
  EXPECT_STREQ(fileName, "oem0.inf");
}

TEST_F(InfStore, AFaultedCopyStoresNothing) {
  WriteFile("C:\\pkg\\net7341a.inf", "[Version]\n");
  sim::FailCall("SetupCopyOEMInfA", sim::Fault{0xE0000100u});
  EXPECT_EQ(CopyOem("C:\\pkg\\net7341a.inf", 0), "error " + std::to_string(0xE0000100u));
  EXPECT_EQ(StoredCount(), 0);
  EXPECT_EQ(sim::CallLog().back().detail, "C:\\pkg\\net7341a.inf style=0x0");
}

}  // namespace
