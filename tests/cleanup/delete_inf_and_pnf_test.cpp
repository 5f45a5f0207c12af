// Deleting a stored INF with its PNF file: which files go, and which attribute
// failures are reported.
#include "cleanup/delete_inf_and_pnf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/file_attributes.h"
#include "tests/support/sim_machine.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class DeleteInfAndPnfTest : public SimMachineTest {
 protected:
  std::string Delete(const char* path) {
    CaptureStdout();
    DeleteInfAndPnf(path);
    return GetCapturedStdout();
  }
};

TEST_F(DeleteInfAndPnfTest, DeletesTheInfAndItsPnfWhateverTheirAttributes) {
  WriteFile("C:\\Windows\\INF\\oem3.inf", "inf");
  WriteFile("C:\\Windows\\INF\\oem3.pnf", "pnf");
  WriteFile("C:\\Windows\\INF\\oem4.inf", "another stored INF");
  sim::StoreAttributes(LinuxPath("C:\\Windows\\INF\\oem3.inf"),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
  sim::StoreAttributes(LinuxPath("C:\\Windows\\INF\\oem3.pnf"),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

  EXPECT_EQ(Delete("C:\\Windows\\INF\\oem3.inf"), "");

  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem3.inf"));
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem3.pnf"));
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem4.inf"));
}

TEST_F(DeleteInfAndPnfTest, OnlyAnInfExtensionEndingThePathBecomesPnf) {
  struct Case {
    const char* path;
    std::vector<std::string> deleted;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      // Capitals are no ".inf": the INF goes, its PNF stays.
      {"C:\\Windows\\INF\\OEM5.INF", {"C:\\Windows\\INF\\OEM5.INF"}, {"C:\\Windows\\INF\\OEM5.pnf"}},
      // A ".inf" in a folder name stays as it is.
      {"C:\\drv.inf\\oem6.inf", {"C:\\drv.inf\\oem6.inf", "C:\\drv.inf\\oem6.pnf"}, {"C:\\drv.pnf"}},
      // No extension at the end: no PNF file belongs to it.
      {"C:\\store\\x.inf.bak", {"C:\\store\\x.inf.bak"}, {"C:\\store\\x.pnf", "C:\\store\\x.pnf.bak"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    for (const std::string& file : c.deleted) WriteFile(file, "x");
    for (const std::string& file : c.kept) WriteFile(file, "x");

    EXPECT_EQ(Delete(c.path), "");

    for (const std::string& file : c.deleted) EXPECT_FALSE(FileExists(file)) << file;
    for (const std::string& file : c.kept) EXPECT_TRUE(FileExists(file)) << file;
  }
}

TEST_F(DeleteInfAndPnfTest, ReportsAttributeFailuresButNotMissingFilesAndDeletesAnyway) {
  EXPECT_EQ(Delete("C:\\Windows\\INF\\oem9.inf"), "");

  WriteFile("C:\\Windows\\INF\\oem3.inf", "inf");
  WriteFile("C:\\Windows\\INF\\oem3.pnf", "pnf");
  sim::ResetCalls();
  sim::FailCall("SetFileAttributesA", sim::Fault{ERROR_ACCESS_DENIED}, 1);
  sim::FailCall("SetFileAttributesA", sim::Fault{0x1f}, 2);

  EXPECT_EQ(Delete("C:\\Windows\\INF\\oem3.inf"),
            "SetFileAttributes error, error value = 5SetFileAttributes error, error value = 1f");
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem3.inf"));
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem3.pnf"));
}

}  // namespace
