// The simulated FindFirstFileA, FindNextFileA and FindClose, which the state dump lists
// folders with.
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/file_attributes.h"
#include "tests/support/sim_machine.h"

namespace {

class FindFiles : public SimMachineTest {
 protected:
  // "name attributes size" of every entry the search hands out, or "error <code>".
  std::vector<std::string> Find(const std::string& pattern) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {"error " + std::to_string(GetLastError())};
    std::vector<std::string> entries;
    do {
      entries.push_back(std::string(found.cFileName) + " " + std::to_string(found.dwFileAttributes) + " " +
                        std::to_string(found.nFileSizeLow));
    } while (FindNextFileA(search, &found));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    return entries;
  }
};

TEST_F(FindFiles, ListsAFolderDotsFirstThenByNameWithoutRegardToCase) {
  WriteFile("C:\\dir\\b.txt", "abc");
  WriteFile("C:\\dir\\A.inf", "[Version]\n");
  WriteFile("C:\\dir\\sub\\deeper.txt", "not listed");
  sim::StoreAttributes(LinuxPath("C:\\dir\\b.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  const std::string folder = std::to_string(FILE_ATTRIBUTE_DIRECTORY);
  const std::string archive = std::to_string(FILE_ATTRIBUTE_ARCHIVE);
  const std::string hiddenReadOnly =
      std::to_string(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Find("C:\\dir\\*"),
            (std::vector<std::string>{". " + folder + " 0", ".. " + folder + " 0", "A.inf " + archive + " 10",
                                      "b.txt " + hiddenReadOnly + " 3", "sub " + folder + " 0"}));
  // The same folder by another spelling and with '/'.
  EXPECT_EQ(Find("c:/DIR/*").size(), 5u);
  // A drive's root has no "." or "..".
  EXPECT_EQ(Find("C:\\*").front().substr(0, 4), "dir ");
}

TEST_F(FindFiles, MatchesWildcardsAndSingleNamesWithoutRegardToCase) {
  WriteFile("C:\\dir\\net7341a.inf", "a");
  WriteFile("C:\\dir\\NET73417.INF", "bb");
  WriteFile("C:\\dir\\noext", "ccc");
  const std::string archive = " " + std::to_string(FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(Find("C:\\dir\\*.inf"),
            (std::vector<std::string>{"NET73417.INF" + archive + " 2", "net7341a.inf" + archive + " 1"}));
  EXPECT_EQ(Find("C:\\dir\\net7341?.inf").size(), 2u);
  // "*.*" matches names without a period as well.
  EXPECT_EQ(Find("C:\\dir\\*.*").size(), 5u);
  // A plain name finds the one entry, spelled as it is stored.
  EXPECT_EQ(Find("C:\\DIR\\Noext"), std::vector<std::string>{"noext" + archive + " 3"});
}

TEST_F(FindFiles, FailsTheWayWindowsFails) {
  WriteFile("C:\\dir\\a.txt", "a");
  EXPECT_EQ(Find("C:\\dir\\none.txt"), std::vector<std::string>{"error 2"});
  EXPECT_EQ(Find("C:\\dir\\*.inf"), std::vector<std::string>{"error 2"});
  EXPECT_EQ(Find("C:\\dir\\"), std::vector<std::string>{"error 2"});
  EXPECT_EQ(Find("C:\\missing\\*"), std::vector<std::string>{"error 3"});

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("C:\\dir\\a.txt", &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileA(search, &found));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(search));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FindFiles, AFaultedSearchFindsNothing) {
  WriteFile("C:\\dir\\a.txt", "a");
  sim::FailCall("FindFirstFileA", sim::Fault{ERROR_ACCESS_DENIED});
  EXPECT_EQ(Find("C:\\dir\\*"), std::vector<std::string>{"error 5"});
  EXPECT_EQ(sim::CallLog().back().detail, "C:\\dir\\*");
}

TEST(CompareWithoutCase, TellsEqualNamesAndOrdersOthers) {
  EXPECT_EQ(lstrcmpiA("PCI\\VEN_1E7C&DEV_4C43", "pci\\ven_1e7c&dev_4c43"), 0);
  EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
  EXPECT_GT(lstrcmpiA("abcd", "ABC"), 0);
}

}  // namespace
