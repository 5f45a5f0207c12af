// The simulated machine's registry file: what a run leaves must come back exactly,
// and hand-written or regedit-exported text must read as regedit reads it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/registry_tree.h"
#include "platform/sim/win32_api.h"

namespace {

using namespace std::string_literals;

constexpr const char* kRoot = "HKEY_LOCAL_MACHINE";

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

void Put(sim::RegKey& key, const std::string& name, uint32_t type, const std::vector<uint8_t>& data) {
  sim::SetValue(key, name, type, data.data(), data.size());
}

sim::RegKey& Key(const std::shared_ptr<sim::RegKey>& root, const std::string& path) {
  return *sim::CreateKeyPath(root, path);
}

// Everything that must survive, spelled out so that a difference names the place.
void ExpectSameTree(const sim::RegKey& expected, const sim::RegKey& actual, const std::string& path) {
  ASSERT_EQ(expected.name, actual.name) << path;
  ASSERT_EQ(expected.values.size(), actual.values.size()) << path;
  for (size_t i = 0; i < expected.values.size(); ++i) {
    const sim::RegValue& a = expected.values[i];
    const sim::RegValue& b = actual.values[i];
    EXPECT_EQ(a.name, b.name) << path << " value " << i;
    EXPECT_EQ(a.type, b.type) << path << ":" << a.name;
    EXPECT_EQ(a.data, b.data) << path << ":" << a.name;
  }
  ASSERT_EQ(expected.subkeys.size(), actual.subkeys.size()) << path;
  for (size_t i = 0; i < expected.subkeys.size(); ++i) {
    EXPECT_EQ(actual.subkeys[i]->parent, &actual) << path;
    ExpectSameTree(*expected.subkeys[i], *actual.subkeys[i], path + "\\" + expected.subkeys[i]->name);
  }
}

std::shared_ptr<sim::RegKey> Parse(const std::string& text) {
  auto root = std::make_shared<sim::RegKey>();
  root->name = kRoot;
  std::string error;
  EXPECT_TRUE(sim::ParseRegistryFile(text, *root, kRoot, &error)) << error << "\n" << text;
  return root;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool HasLine(const std::string& text, const std::string& wanted) {
  for (const std::string& line : Lines(text)) {
    if (line == wanted) return true;
  }
  return false;
}

// A tree with every kind of value and name that a machine can hold.
std::shared_ptr<sim::RegKey> AwkwardTree() {
  auto root = std::make_shared<sim::RegKey>();
  root->name = kRoot;
  sim::RegKey& product = Key(root, "SOFTWARE\\Orvix\\qnetprep");
  std::vector<uint8_t> slot = Bytes("Success");
  slot.resize(512, 0);
  Put(product, "Install", REG_SZ, slot);
  Put(product, "NoTerminator", REG_SZ, Bytes("qnetprep.exe /u"));
  Put(product, "Accented", REG_SZ, Bytes("caf\xE9\0"s));
  Put(product, "TwoNuls", REG_SZ, Bytes("ab\0\0"s));
  Put(product, "EmptyText", REG_SZ, Bytes("\0"s));
  Put(product, "NoData", REG_SZ, {});
  Put(product, "Path", REG_SZ, Bytes("C:\\Windows\\INF\\oem3.inf \"quoted\"\0"s));
  Put(product, "", REG_SZ, Bytes("default\0"s));
  Put(product, "Count", REG_DWORD, {0x0a, 0, 0, 0x80});
  Put(product, "ShortDword", REG_DWORD, {1, 2, 3});
  Put(product, "Expand", REG_EXPAND_SZ, Bytes("%SystemRoot%\\inf\0"s));
  Put(product, "Multi", REG_MULTI_SZ, Bytes("one\0two\0\0"s));
  Put(product, "Odd type", 0x12345, {0xff});
  Put(product, "EmptyBinary", REG_BINARY, {});
  std::vector<uint8_t> blob(300);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
  Put(product, "Blob", REG_BINARY, blob);

  sim::RegKey& odd = Key(root, "SOFTWARE\\Odd Names = \"here\"");
  Put(odd, "quote\"name", REG_SZ, Bytes("x\0"s));
  Put(odd, "back\\slash", REG_SZ, Bytes("y\0"s));
  Put(odd, "a=b", REG_DWORD, {1, 0, 0, 0});
  Put(odd, "@", REG_SZ, Bytes("not the default\0"s));
  Put(odd, "line\nbreak\r", REG_SZ, Bytes("z\0"s));
  Put(odd, "MiXeD", REG_SZ, Bytes("case\0"s));
  Key(root, "SOFTWARE\\Empty\\EmptyChild");
  Key(root, "SOFTWARE\\ a key with spaces ");
  Key(root, "SOFTWARE\\bracket]inside");
  Key(root, "SYSTEM\\CurrentControlSet\\Enum");
  return root;
}

TEST(RegistryFile, AnyTreeSurvivesARoundTripExactly) {
  const std::shared_ptr<sim::RegKey> original = AwkwardTree();
  const std::string text = sim::FormatRegistryFile(*original, kRoot);
  const std::shared_ptr<sim::RegKey> reread = Parse(text);
  ExpectSameTree(*original, *reread, kRoot);
  EXPECT_EQ(sim::FormatRegistryFile(*reread, kRoot), text);
}

TEST(RegistryFile, WritesTextOnlyWhenNothingIsLost) {
  const std::string text = sim::FormatRegistryFile(*AwkwardTree(), kRoot);
  EXPECT_EQ(Lines(text).at(0), "REGEDIT4");
  EXPECT_TRUE(HasLine(text, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty\\EmptyChild]"));
  EXPECT_TRUE(HasLine(text, R"("Path"="C:\\Windows\\INF\\oem3.inf \"quoted\"")"));
  EXPECT_TRUE(HasLine(text, R"(@="default")"));
  EXPECT_TRUE(HasLine(text, R"("EmptyText"="")"));
  EXPECT_TRUE(HasLine(text, R"("Count"=dword:8000000a)"));
  EXPECT_TRUE(HasLine(text, R"("NoTerminator"=hex(1):71,6e,65,74,70,72,65,70,2e,65,78,65,20,2f,75)"));
  EXPECT_TRUE(HasLine(text, R"("TwoNuls"=hex(1):61,62,00,00)"));
  EXPECT_TRUE(HasLine(text, R"("NoData"=hex(1):)"));
  EXPECT_TRUE(HasLine(text, R"("ShortDword"=hex(4):01,02,03)"));
  EXPECT_TRUE(HasLine(text, R"("Odd type"=hex(12345):ff)"));
  EXPECT_TRUE(HasLine(text, R"("EmptyBinary"=hex:)"));
  EXPECT_TRUE(HasLine(text, R"("@"="not the default")"));
}

TEST(RegistryFile, WrapsLongHexListsLikeRegedit) {
  const std::string text = sim::FormatRegistryFile(*AwkwardTree(), kRoot);
  const std::vector<std::string> lines = Lines(text);
  bool sawContinuation = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 80u) << lines[i];
    if (lines[i].size() >= 2 && lines[i].substr(lines[i].size() - 2) == ",\\") {
      ASSERT_LT(i + 1, lines.size());
      EXPECT_EQ(lines[i + 1].substr(0, 2), "  ") << lines[i + 1];
      sawContinuation = true;
    }
  }
  EXPECT_TRUE(sawContinuation) << "the 512-byte value must wrap";
}

TEST(RegistryFile, ReadsHandWrittenTextAsRegeditDoes) {
  const std::string text =
      "\xEF\xBB\xBFREGEDIT4\r\n"
      "\r\n"
      "; a comment, then keys in any case\r\n"
      "[hkey_local_machine\\SOFTWARE\\Orvix\\qnetprep]\r\n"
      "\"Install\"=\"Success\"\r\n"
      "   ; an indented comment\r\n"
      "\"Count\"=DWORD:A\r\n"
      "\"Multi\"=HEX(7):6f,6e,65,00,\\\r\n"
      "    74 , 77,6f,\\\r\n"
      "\t00,00\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Elsewhere]\r\n"
      "\"Ignored\"=\"because another hive\"\r\n"
      "\"AlsoIgnored\"=hex:01,\\\r\n"
      "  02\r\n"
      "[HKEY_LOCAL_MACHINESOFTWARE]\r\n"
      "\"NotOurs\"=\"a longer root name is another hive\"\r\n"
      "[HKEY_LOCAL_MACHINE\\software\\ORVIX]\n"
      "@=\"vendor\"\n";
  const std::shared_ptr<sim::RegKey> root = Parse(text);
  ASSERT_EQ(root->subkeys.size(), 1u);
  const auto vendor = sim::FindKeyPath(root, "SOFTWARE\\Orvix");
  ASSERT_NE(vendor, nullptr);
  EXPECT_EQ(vendor->name, "Orvix") << "the first spelling of a key names it";
  ASSERT_NE(sim::FindValue(*vendor, ""), nullptr);
  const auto product = sim::FindSubkey(*vendor, "QNETPREP");
  ASSERT_NE(product, nullptr);
  ASSERT_EQ(product->values.size(), 3u);
  EXPECT_EQ(product->values[0].data, Bytes("Success\0"s));
  EXPECT_EQ(product->values[1].type, REG_DWORD);
  EXPECT_EQ(product->values[1].data, (std::vector<uint8_t>{10, 0, 0, 0}));
  EXPECT_EQ(product->values[2].type, REG_MULTI_SZ);
  EXPECT_EQ(product->values[2].data, Bytes("one\0two\0\0"s));
}

TEST(RegistryFile, RejectsMalformedTextNamingTheLine) {
  struct Case {
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      {"", "line 1"},
      {"REGEDIT5\n", "line 1"},
      {"REGEDIT4\n\"Early\"=\"value before any key\"\n", "line 2"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", "line 2"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", "line 2"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"unterminated=\"x\"\n", "line 3"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"x\" trailing\n", "line 3"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"bad \\q escape\"\n", "line 3"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:123456789\n", "line 3"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,2g\n", "line 3"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,,02\n", "line 3"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex(zz):01\n", "line 3"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\n\"a\"=hex:01,\\\n", "line 4"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=str:x\n", "line 3"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"\n", "line 3"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\ngarbage\n", "line 3"},
  };
  for (const Case& c : cases) {
    sim::RegKey root;
    std::string error;
    EXPECT_FALSE(sim::ParseRegistryFile(c.text, root, kRoot, &error)) << c.text;
    EXPECT_NE(error.find(c.line), std::string::npos) << c.text << " -> " << error;
  }
}

}  // namespace
